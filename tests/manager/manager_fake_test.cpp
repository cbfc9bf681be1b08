// The directory manager against the scriptable fake LDAP library: search with
// retry and the error modes, values under two attribute descriptions on one
// entry, value decoding, the hex dump of the trace, and retrieval by URL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "fakeldap_control.h"
#include "labpki.h"
#include "ldapdirmanager.h"
#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxtrace.h"
#include "tracecapture.h"

namespace {

using labpki::Bytes;

// The trace captured while alive, on or off as asked, seen as the texts of the
// plug-in's messages.
class TraceCapture : public tracetest::TraceCapture {
  public:
    using tracetest::TraceCapture::TraceCapture;
    // Texts of the level-1 records of the plug-in's component that begin with prefix.
    std::vector<std::string> messages(const std::string& prefix = std::string()) const {
        std::vector<std::string> out;
        for (const tracetest::Record& r : atLevel(RYX_TRACE_LEVEL_ERROR)) {
            if (r.component == RYX_TRACE_COMP_DIRLDAP &&
                r.text.compare(0, prefix.size(), prefix) == 0) {
                out.push_back(r.text);
            }
        }
        return out;
    }
};

struct Pki {
    labpki::Authority root = labpki::Authority::root("cn=Root CA,o=Test,c=US");
    Bytes alice = root.issue("cn=Alice,o=Test,c=US", 11);
    Bytes bob = root.issue("cn=Bob,o=Test,c=US", 12);
    Bytes crl1 = root.crl();
    Bytes crl2 = root.crl([] {
        labpki::CrlOptions o;
        o.revokedCount = 3;
        o.crlNumber = 2;
        return o;
    }());
    Bytes arl = root.arl();
};

const Pki& pki() {
    static const Pki p;
    return p;
}

Bytes derOf(const RYXASNObject* object) {
    RYXBuffer der = object->getDEREncoding();
    return Bytes(der.getValue(), der.getValue() + der.getLength());
}

std::vector<Bytes> contents(const RYXASNObjectContainer& c) {
    std::vector<Bytes> out;
    for (size_t i = 0; i < c.size(); ++i) {
        out.push_back(derOf(c.at(i)));
    }
    return out;
}

// The lines of the fake's call log that open, bind, unbind or search.
std::vector<std::string> connectionCalls(const char* log) {
    std::vector<std::string> out;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        for (const char* name :
             {"ldap_init(", "ldap_simple_bind_s(", "ldap_unbind(", "ldap_search_st("}) {
            if (line.compare(0, std::strlen(name), name) == 0) {
                out.push_back(line.substr(0, line.find('(')));
            }
        }
    }
    return out;
}

class ManagerFake : public ::testing::Test {
  protected:
    ManagerFake() : m_fake(FAKELDAP_FULL), m_subject("cn=Alice,o=Test,c=US") {}

    void TearDown() override {
        // Whatever the fake handed out was released once the managers are gone.
        EXPECT_EQ(m_fake.fake_live_allocations(), 0);
    }

    std::unique_ptr<LDAPDIRManager> manager(int errorMode, const char* userDN = "cn=admin,o=Test",
                                            const char* driver = FAKELDAP_FULL) {
        const unsigned char password[] = {'s', 'e', 'c', 'r', 'e', 't'};
        RYXDIRConnectInfo::LDAP info(RYXConstString("fakehost"), 1389, RYXConstString(userDN),
                                     RYXBuffer(sizeof password, password), 1, errorMode,
                                     RYXConstString(driver), nullptr);
        return std::make_unique<LDAPDIRManager>(info);
    }

    void addValue(const char* attr, const Bytes& bytes) {
        m_fake.fake_add_value(attr, bytes.data(), bytes.size());
    }
    // A text value as the directory returns it (the library's NUL is not counted).
    void addText(const char* attr, const std::string& text) {
        m_fake.fake_add_value(attr, text.data(), text.size());
    }

    FakeLdap m_fake;
    RYXASNx500Name m_subject;
};

// ---------------------------------------------------------------------------
// Search, retry and error modes

TEST_F(ManagerFake, SearchesWithTheFiltersAttributesAndScopesOfEachRetrieval) {
    auto m = manager(0);
    m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
    delete m->getCACertificates(m_subject);
    EXPECT_STREQ(m_fake.fake_last_search_filter(), "(cACertificate=*)");
    EXPECT_STREQ(m_fake.fake_last_search_attrs(), "cACertificate");
    EXPECT_EQ(m_fake.fake_last_search_scope(), 0);
    EXPECT_STREQ(m_fake.fake_last_search_base(), "CN=Alice,O=Test,C=US");
    EXPECT_EQ(m_fake.fake_last_search_timeout(), nullptr);

    delete m->getUserCertificates(m_subject);
    EXPECT_STREQ(m_fake.fake_last_search_filter(), "(userCertificate=*)");
    EXPECT_EQ(m_fake.fake_last_search_scope(), 2);

    delete m->getCRLs(m_subject);
    EXPECT_STREQ(m_fake.fake_last_search_filter(),
                 "(|(certificateRevocationList;binary=*)(certificateRevocationList=*))");
    EXPECT_STREQ(m_fake.fake_last_search_attrs(),
                 "certificateRevocationList;binary,certificateRevocationList");
    EXPECT_EQ(m_fake.fake_last_search_scope(), 0);

    delete m->getARLs(m_subject);
    EXPECT_STREQ(m_fake.fake_last_search_filter(),
                 "(|(authorityRevocationList;binary=*)(authorityRevocationList=*)"
                 "(certificateRevocationList;binary=*)(certificateRevocationList=*))");
    EXPECT_EQ(m_fake.fake_last_search_scope(), 0);

    // One bind for all four: the connection stays open between retrievals.
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    EXPECT_EQ(m_fake.fake_last_protocol_version(), 3);
}

TEST_F(ManagerFake, AnEmptyUserDNBindsAnonymouslyWhateverThePasswordHolds) {
    auto m = manager(0, "");
    delete m->getCRLs(m_subject);
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    EXPECT_EQ(m_fake.fake_last_bind_dn(), nullptr);
    unsigned char room[16];
    EXPECT_EQ(m_fake.fake_last_bind_password(room, sizeof room), -1);
}

TEST_F(ManagerFake, RetriesOnceWhenTheServerIsDownAndTracesIt) {
    for (int code : {81, 91}) {
        m_fake.fake_reset();
        m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
        addValue("userCertificate", pki().alice);
        auto m = manager(0);
        m_fake.fake_push_result("ldap_search_st", code);
        std::unique_ptr<RYXASNCertificateContainer> certs;
        std::vector<std::string> messages;
        {
            TraceCapture capture(true, RYX_TRACE_LEVEL_ERROR);
            certs.reset(m->getUserCertificates(m_subject));
            messages = capture.messages("Error(");
        }
        ASSERT_EQ(certs->size(), 1u);
        const std::string text = code == 81 ? "Can't contact LDAP server" : "Connect error";
        std::vector<std::string> expected{"Error(" + std::to_string(code) +
                                          ") from ldap_search().  " + text + "  Retrying."};
        EXPECT_EQ(messages, expected);
        // The dead connection is forgotten without an unbind, then a new log-in.
        std::vector<std::string> calls{"ldap_init", "ldap_simple_bind_s", "ldap_search_st",
                                       "ldap_init", "ldap_simple_bind_s", "ldap_search_st"};
        EXPECT_EQ(connectionCalls(m_fake.fake_call_log()), calls);
    }
}

TEST_F(ManagerFake, ASecondServerDownFailureIsNotRetriedAgain) {
    auto m = manager(0);
    m_fake.fake_push_result("ldap_search_st", 91);
    m_fake.fake_push_result("ldap_search_st", 91);
    std::vector<std::string> messages;
    try {
        TraceCapture capture(true, RYX_TRACE_LEVEL_ERROR);
        try {
            delete m->getCACertificates(m_subject);
            FAIL() << "no exception";
        } catch (...) {
            messages = capture.messages("Error(");
            throw;
        }
    } catch (const RYXDIRException& e) {
        EXPECT_EQ(e.getError(), ryxcode::kSearchFailed);
        EXPECT_NE(std::string(e.what()).find(" ldap_search_st() rc=91. "), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(m_fake.fake_call_count("ldap_search_st"), 2);
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 2);

    // In error mode 2 the same failure gives an empty container.
    auto quiet = manager(2);
    m_fake.fake_push_result("ldap_search_st", 81);
    m_fake.fake_push_result("ldap_search_st", 81);
    std::unique_ptr<RYXASNCRLContainer> crls(quiet->getCRLs(m_subject));
    EXPECT_TRUE(crls->empty());
}

// Failing searches and binds by error mode: thrown (code) or an empty container (0).
TEST_F(ManagerFake, ErrorModesDecideBetweenAnExceptionAndAnEmptyResult) {
    struct Case {
        const char* function;
        int rc;
        int errorMode;
        int thrown;  // 0: empty container
    };
    const Case cases[] = {
        {"ldap_search_st", 32, 0, ryxcode::kSearchFailed},
        {"ldap_search_st", 32, 1, 0},
        {"ldap_search_st", 32, 2, 0},
        {"ldap_search_st", 50, 1, ryxcode::kSearchFailed},
        {"ldap_search_st", 50, 7, 0},
        {"ldap_simple_bind_s", 49, 0, ryxcode::kBadCredentials},
        {"ldap_simple_bind_s", 49, 1, ryxcode::kBadCredentials},
        {"ldap_simple_bind_s", 49, 2, 0},
        {"ldap_simple_bind_s", 32, 1, 0},
        {"ldap_simple_bind_s", 53, 1, ryxcode::kNoConnection},
        {"ldap_simple_bind_s", 53, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " rc " + std::to_string(c.rc) + " mode " +
                     std::to_string(c.errorMode));
        m_fake.fake_reset();
        m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
        addValue("cACertificate", pki().alice);
        auto m = manager(c.errorMode);
        m_fake.fake_push_result(c.function, c.rc);
        try {
            std::unique_ptr<RYXASNCertificateContainer> certs(m->getCACertificates(m_subject));
            EXPECT_EQ(c.thrown, 0) << "no exception";
            EXPECT_TRUE(certs->empty());
        } catch (const RYXDIRException& e) {
            EXPECT_EQ(e.getError(), c.thrown) << e.what();
        }
        // Never retried: one search at most, and one bind.
        EXPECT_LE(m_fake.fake_call_count("ldap_search_st"), 1);
        EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    }
}

TEST_F(ManagerFake, AFailedLoginIsTriedAgainOnTheNextRetrieval) {
    auto m = manager(2);
    m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
    addValue("cACertificate", pki().alice);
    m_fake.fake_push_result("ldap_simple_bind_s", 49);
    std::unique_ptr<RYXASNCertificateContainer> first(m->getCACertificates(m_subject));
    EXPECT_TRUE(first->empty());
    std::unique_ptr<RYXASNCertificateContainer> second(m->getCACertificates(m_subject));
    EXPECT_EQ(second->size(), 1u);
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 2);
}

TEST_F(ManagerFake, UncountableResultsThrowAndLeaveNoContainer) {
    auto m = manager(2);
    m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
    addValue("certificateRevocationList;binary", pki().crl1);
    m_fake.fake_set_count_override(1, -1);
    try {
        delete m->getCRLs(m_subject);
        FAIL() << "no exception";
    } catch (const RYXDIRException&) {
        FAIL() << "a search exception";
    } catch (const RYXException& e) {
        EXPECT_EQ(e.getError(), 0);
    }
    m_fake.fake_set_count_override(0, 0);
}

// ---------------------------------------------------------------------------
// Values under two attribute descriptions on one entry

TEST_F(ManagerFake, RevocationListsAreGroupedByAttributeInTheOrderOfTheList) {
    auto m = manager(0);
    m_fake.fake_add_entry("cn=Root CA,o=Test,c=US");
    // Server order differs from the manager's order, and the names differ in case.
    addValue("CERTIFICATEREVOCATIONLIST", pki().crl2);
    addValue("certificateRevocationList;binary", pki().crl1);
    addValue("authorityRevocationList;Binary", pki().arl);
    addValue("certificateRevocationList;binary", pki().crl2);
    m_fake.fake_add_entry("cn=Other,o=Test,c=US");
    addValue("certificateRevocationList", pki().crl1);

    std::unique_ptr<RYXASNCRLContainer> crls(m->getCRLs(m_subject));
    std::vector<Bytes> expected{pki().crl1, pki().crl2, pki().crl2, pki().crl1};
    EXPECT_EQ(contents(*crls), expected);

    std::unique_ptr<RYXASNCRLContainer> arls(m->getARLs(m_subject));
    std::vector<Bytes> expectedArls{pki().arl, pki().crl1, pki().crl2, pki().crl2, pki().crl1};
    EXPECT_EQ(contents(*arls), expectedArls);
}

TEST_F(ManagerFake, CertificatesAreReadOnlyUnderTheQueriedName) {
    auto m = manager(0);
    m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
    addValue("userCertificate;binary", pki().bob);
    addValue("USERCERTIFICATE", pki().alice);
    addValue("USERCERTIFICATE", pki().bob);
    m_fake.fake_add_entry("cn=Sub,cn=Alice,o=Test,c=US");
    addValue("userCertificate", pki().alice);
    std::unique_ptr<RYXASNCertificateContainer> certs(m->getUserCertificates(m_subject));
    std::vector<Bytes> expected{pki().alice, pki().bob, pki().alice};
    EXPECT_EQ(contents(*certs), expected);
    std::unique_ptr<RYXASNCertificateContainer> none(m->getCACertificates(m_subject));
    EXPECT_TRUE(none->empty());
}

// ---------------------------------------------------------------------------
// Value decoding

TEST_F(ManagerFake, DecodesBinaryDERAndMarkedHexTextAndSkipsOtherText) {
    auto m = manager(0);
    m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
    addText("cACertificate", labpki::asnHexText(pki().alice, "{ASN}"));
    addText("cACertificate", labpki::asnHexText(pki().bob, "{Asn}"));
    addText("cACertificate", labpki::asnHexText(pki().alice, "{asn}"));
    addText("cACertificate", labpki::asnHexText(pki().alice, "{ASN "));
    addText("cACertificate", "MIIBszCCAVmgAwIBAgIBCzAKBggqhkjOPQQDAjA1");
    addText("cACertificate", "{AS");
    addText("cACertificate", "");
    addValue("cACertificate", pki().bob);
    std::unique_ptr<RYXASNCertificateContainer> certs(m->getCACertificates(m_subject));
    std::vector<Bytes> expected{pki().alice, pki().bob, pki().bob};
    EXPECT_EQ(contents(*certs), expected);

    // Upper-case hex digits decode the same.
    m_fake.fake_reset();
    m_fake.fake_add_entry("cn=Root CA,o=Test,c=US");
    addText("certificateRevocationList", "{ASN}" + labpki::toHex(pki().crl1, true));
    std::unique_ptr<RYXASNCRLContainer> crls(m->getCRLs(m_subject));
    std::vector<Bytes> expectedCrls{pki().crl1};
    EXPECT_EQ(contents(*crls), expectedCrls);
}

TEST_F(ManagerFake, AValueThatDoesNotDecodeFailsTheWholeRetrieval) {
    auto m = manager(0);
    Bytes broken = pki().alice;
    broken.resize(broken.size() / 2);
    struct Case {
        const char* what;
        Bytes value;
        bool text;
        int code;
    };
    const std::string badHex = "{ASN}30zz";
    const std::string oddHex = "{ASN}308";
    const Case cases[] = {
        {"truncated DER", broken, false, RYX_ERR_ASN_DECODE},
        {"a CRL as a certificate", pki().crl1, false, RYX_ERR_ASN_DECODE},
        {"marked text with a non-hex digit", Bytes(badHex.begin(), badHex.end()), true,
         RYX_ERR_HEX_STRING},
        {"marked text with an odd number of digits", Bytes(oddHex.begin(), oddHex.end()), true,
         RYX_ERR_HEX_STRING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_fake.fake_reset();
        m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
        addValue("cACertificate", pki().alice);  // decodes, then the bad value
        m_fake.fake_add_value("cACertificate", c.value.data(), c.value.size());
        try {
            delete m->getCACertificates(m_subject);
            ADD_FAILURE() << "no exception";
        } catch (const RYXException& e) {
            EXPECT_EQ(e.getError(), c.code) << e.what();
        }
    }
    // The same for revocation lists.
    m_fake.fake_reset();
    m_fake.fake_add_entry("cn=Root CA,o=Test,c=US");
    addValue("authorityRevocationList", pki().arl);
    addValue("certificateRevocationList", pki().alice);
    EXPECT_THROW(delete m->getARLs(m_subject), RYXASNException);
}

// The hex dump in the trace: written only with the trace on, at most 256 bytes.
TEST_F(ManagerFake, TracesAHexDumpOfAtMost256BytesOnlyWhenTheTraceIsOn) {
    auto m = manager(2);
    Bytes big(300);
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<unsigned char>(i);  // binary: fails as DER after the dump
    }
    Bytes small(20, 0x01);
    for (const Bytes& value : {big, small}) {
        m_fake.fake_reset();
        m_fake.fake_add_entry("cn=Alice,o=Test,c=US");
        addValue("userCertificate", value);
        std::vector<std::string> messages;
        {
            TraceCapture capture(true, RYX_TRACE_LEVEL_ERROR);
            EXPECT_THROW(delete m->getUserCertificates(m_subject), RYXASNException);
            messages = capture.messages();
        }
        ASSERT_EQ(messages.size(), 1u);
        const size_t dumped = std::min<size_t>(value.size(), 256);
        const std::string head =
            "Data Read Trace Limited to 256 Bytes:\nHEX (" + std::to_string(dumped) + " bytes)\n";
        EXPECT_EQ(messages[0].compare(0, head.size(), head), 0) << messages[0];
        size_t lines = 0;
        for (char ch : messages[0]) {
            lines += ch == '\n';
        }
        EXPECT_EQ(lines, 2 + (dumped + 15) / 16) << messages[0];
        // The last dumped line starts at the offset of the last 16-byte row.
        char lastRow[32];
        std::snprintf(lastRow, sizeof lastRow, "%04zx: ", (dumped - 1) / 16 * 16);
        EXPECT_NE(messages[0].find(std::string("\n") + lastRow), std::string::npos);
        EXPECT_EQ(messages[0].find(dumped == 256 ? "\n0100: " : "\n0020: "), std::string::npos);

        TraceCapture off(false);
        EXPECT_THROW(delete m->getUserCertificates(m_subject), RYXASNException);
        EXPECT_TRUE(off.messages().empty());
    }

    // Revocation lists use the heading without the colon.
    m_fake.fake_reset();
    m_fake.fake_add_entry("cn=Root CA,o=Test,c=US");
    addValue("certificateRevocationList;binary", pki().crl1);
    TraceCapture capture(true, RYX_TRACE_LEVEL_ERROR);
    delete m->getCRLs(m_subject);
    ASSERT_EQ(capture.messages().size(), 1u);
    EXPECT_EQ(capture.messages()[0].compare(0, 37, "Data Read Trace Limited to 256 Bytes\n"), 0);
}

// ---------------------------------------------------------------------------
// Retrieval by URL

TEST_F(ManagerFake, ByURLKeepsWhatDecodesAsARevocationListWithoutABind) {
    auto m = manager(0);
    m_fake.fake_add_entry("cn=Root CA,o=Test,c=US");
    addValue("cACertificate", pki().alice);  // not a CRL: skipped
    addText("cn", "Root CA");                // unmarked text: skipped
    addValue("certificateRevocationList;binary", pki().crl2);
    addText("certificateRevocationList", labpki::asnHexText(pki().crl1));
    addValue("authorityRevocationList", pki().arl);
    const char url[] = "ldap://fakehost:1389/cn=Root%20CA,o=Test,c=US";
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(url)));
    // Pair order of the entry: names without regard to case, values in order.
    std::vector<Bytes> expected{pki().arl, pki().crl1, pki().crl2};
    EXPECT_EQ(contents(*crls), expected);
    EXPECT_STREQ(m_fake.fake_last_url(), url);
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 0);

    // Marked text that is no hex fails the whole retrieval.
    addText("certificateRevocationList", "{ASN}nothex");
    EXPECT_THROW(delete m->getViaURI(RYXString(url)), RYXException);
}

TEST_F(ManagerFake, ByURLFailuresFollowTheErrorMode) {
    const char url[] = "ldap://fakehost/o=Test?certificateRevocationList";
    {
        auto m = manager(0);
        m_fake.fake_push_result("ldap_url_search_st", 32);
        std::vector<std::string> messages;
        {
            TraceCapture capture(true, RYX_TRACE_LEVEL_ERROR);
            try {
                delete m->getViaURI(RYXString(url));
                ADD_FAILURE() << "no exception";
            } catch (const RYXDIRException& e) {
                EXPECT_EQ(e.getError(), ryxcode::kSearchFailed);
            }
            messages = capture.messages();
        }
        std::vector<std::string> expected{"Error(32) from ldap_url_search_st().  No such object"};
        EXPECT_EQ(messages, expected);
    }
    for (int mode : {1, 2}) {
        auto m = manager(mode);
        m_fake.fake_push_result("ldap_url_search_st", 32);
        std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(url)));
        EXPECT_TRUE(crls->empty());
    }
    {
        auto m = manager(1);
        m_fake.fake_push_result("ldap_url_search_st", 50);
        EXPECT_THROW(delete m->getViaURI(RYXString(url)), RYXDIRException);
    }
}

TEST_F(ManagerFake, ByURLWithoutURLFunctionsInTheLibrary) {
    FakeLdap nourl(FAKELDAP_NOURL);
    const char url[] = "ldap://fakehost/o=Test";
    {
        auto m = manager(0, "cn=admin,o=Test", FAKELDAP_NOURL);
        try {
            delete m->getViaURI(RYXString(url));
            ADD_FAILURE() << "no exception";
        } catch (const RYXDIRException& e) {
            EXPECT_EQ(e.getError(), ryxcode::kSearchFailed);
            EXPECT_STREQ(e.what(), "searchByURI not supported by this client");
        }
        auto quiet = manager(2, "cn=admin,o=Test", FAKELDAP_NOURL);
        std::unique_ptr<RYXASNCRLContainer> crls(quiet->getViaURI(RYXString(url)));
        EXPECT_TRUE(crls->empty());
    }
    EXPECT_EQ(nourl.fake_live_allocations(), 0);
}

}  // namespace
