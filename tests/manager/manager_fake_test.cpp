// The manager against the fake LDAP library, for what slapd does not show: the
// C API arguments, retries on 81 and 91, codes slapd never sends, both value
// descriptions on one entry, no URL functions, every allocation released.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "fakeldap_control.h"
#include "labpki.h"
#include "ldapdirmanager.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kSubject = "cn=Alice,o=Test,c=US";

struct Pki {
    labpki::Authority root = labpki::Authority::root("cn=Root CA,o=Test,c=US");
    Bytes alice = root.issue(kSubject, 11);
    Bytes crl1 = root.crl();
    Bytes crl2 = labpki::Authority::root("cn=Other CA,o=Test,c=US").crl();
    Bytes arl = root.arl();
};

const Pki& pki() {
    static const Pki p;
    return p;
}

class ManagerFake : public ::testing::Test {
  protected:
    ManagerFake() : m_fake(FAKELDAP_FULL) {}
    void TearDown() override { EXPECT_EQ(m_fake.fake_live_allocations(), 0); }

    static std::unique_ptr<LDAPDIRManager> manager(int errorMode,
                                                   const char* userDN = "cn=admin,o=Test",
                                                   const char* driver = FAKELDAP_FULL) {
        const unsigned char password[] = {'s', 'e', 'c', 'r', 'e', 't'};
        RYXDIRConnectInfo::LDAP info("fakehost", 1389, userDN, RYXBuffer(sizeof password, password),
                                     1, errorMode, driver, nullptr);
        return std::make_unique<LDAPDIRManager>(info);
    }
    // A fresh directory of one entry holding these values.
    void directory(const char* dn, const std::vector<std::pair<const char*, Bytes>>& values) {
        m_fake.fake_reset();
        m_fake.fake_add_entry(dn);
        for (const auto& v : values) {
            m_fake.fake_add_value(v.first, v.second.data(), v.second.size());
        }
    }

    FakeLdap m_fake;
};

TEST_F(ManagerFake, EachRetrievalSearchesWithItsFilterAttributesAndScope) {
    const struct {
        char kind;
        const char* filter;
        const char* attrs;
        int scope;
    } cases[] = {
        {'c', "(cACertificate=*)", "cACertificate", 0},
        {'u', "(userCertificate=*)", "userCertificate", 2},
        {'r', "(|(certificateRevocationList;binary=*)(certificateRevocationList=*))",
         "certificateRevocationList;binary,certificateRevocationList", 0},
        {'a',
         "(|(authorityRevocationList;binary=*)(authorityRevocationList=*)"
         "(certificateRevocationList;binary=*)(certificateRevocationList=*))",
         "authorityRevocationList;binary,authorityRevocationList,"
         "certificateRevocationList;binary,certificateRevocationList",
         0},
    };
    auto m = manager(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        fetch(*m, c.kind, kSubject);
        EXPECT_STREQ(m_fake.fake_last_search_filter(), c.filter);
        EXPECT_STREQ(m_fake.fake_last_search_attrs(), c.attrs);
        EXPECT_EQ(m_fake.fake_last_search_scope(), c.scope);
        EXPECT_STREQ(m_fake.fake_last_search_base(), "CN=Alice,O=Test,C=US");
        EXPECT_EQ(m_fake.fake_last_search_timeout(), nullptr);
    }
    // One log-in with LDAP version 3 serves all four.
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    EXPECT_EQ(m_fake.fake_last_protocol_version(), 3);

    // An empty user DN binds anonymously: no DN and no password reach the library.
    fetch(*manager(0, ""), 'r', kSubject);
    EXPECT_EQ(m_fake.fake_last_bind_dn(), nullptr);
    EXPECT_EQ(m_fake.fake_last_bind_password_pointer(), nullptr);
}

// A lost server (81) or a failed connect (91) costs one new log-in without an
// unbind of the dead connection, and one retry only.
TEST_F(ManagerFake, ALostServerIsRetriedOnce) {
    const struct {
        int code;
        int failures;
        const char* text;
    } cases[] = {{81, 1, "Can't contact LDAP server"}, {91, 1, "Connect error"}, {91, 2, nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + " x" + std::to_string(c.failures));
        directory(kSubject, {{"userCertificate", pki().alice}});
        auto m = manager(0);
        for (int i = 0; i < c.failures; ++i) {
            m_fake.fake_push_result("ldap_search_st", c.code);
        }
        TraceCapture trace;
        if (c.failures == 1) {
            EXPECT_EQ(fetch(*m, 'u', kSubject), std::vector<Bytes>{pki().alice});
            const std::string retry = "Error(" + std::to_string(c.code) +
                                      ") from ldap_search().  " + c.text + "  Retrying.";
            EXPECT_EQ(trace.messagesWithout("Data Read Trace"),
                      std::vector<Record>{errorRec(retry)});
        } else {
            EXPECT_TRUE(throwsError<RYXDIRException>(
                [&] { fetch(*m, 'u', kSubject); }, ryxcode::kSearchFailed,
                "Error searching LDAP server. ldap_search_st() rc=91. Connect error"));
            EXPECT_EQ(trace.messagesWithout("Data Read Trace").size(), 1u);
        }
        EXPECT_EQ(m_fake.fake_call_count("ldap_search_st"), 2);
        EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 2);
        EXPECT_EQ(m_fake.fake_call_count("ldap_unbind"), 0);
    }
}

// Codes a running slapd does not send here: thrown with the manager's code, or
// an empty container; never retried.
TEST_F(ManagerFake, ErrorModesOnOtherCodes) {
    const int kEmpty = -1;
    const struct {
        const char* function;
        int rc;
        int errorMode;
        int thrown;
    } cases[] = {
        {"ldap_search_st", 50, 1, ryxcode::kSearchFailed},
        {"ldap_search_st", 50, 7, kEmpty},
        {"ldap_simple_bind_s", 32, 0, ryxcode::kBadCredentials},
        {"ldap_simple_bind_s", 32, 1, kEmpty},
        {"ldap_simple_bind_s", 53, 1, ryxcode::kNoConnection},
        {"ldap_simple_bind_s", 53, -1, kEmpty},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.function) + " " + std::to_string(c.rc) + " mode " +
                     std::to_string(c.errorMode));
        directory(kSubject, {{"cACertificate", pki().alice}});
        auto m = manager(c.errorMode);
        m_fake.fake_push_result(c.function, c.rc);
        if (c.thrown == kEmpty) {
            EXPECT_TRUE(fetch(*m, 'c', kSubject).empty());
        } else {
            EXPECT_TRUE(throwsError<RYXDIRException>([&] { fetch(*m, 'c', kSubject); }, c.thrown));
        }
        EXPECT_LE(m_fake.fake_call_count("ldap_search_st"), 1);
        EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    }
    // Results the library cannot count fail whatever the mode, as no search error.
    directory(kSubject, {{"certificateRevocationList", pki().crl1}});
    m_fake.fake_set_count_override(1, -1);
    EXPECT_TRUE(throwsError<RYXException>([&] { fetch(*manager(2), 'r', kSubject); }, 0));
    m_fake.fake_set_count_override(0, 0);
}

// Values under the plain and the ";binary" description, in any letter case, on
// one entry: grouped by the retrieval's attribute order, values in server order.
TEST_F(ManagerFake, RevocationListsAreGroupedInTheOrderOfTheAttributeList) {
    directory("cn=Root CA,o=Test,c=US", {{"CERTIFICATEREVOCATIONLIST", pki().crl2},
                                         {"certificateRevocationList;binary", pki().crl1},
                                         {"authorityRevocationList;Binary", pki().arl},
                                         {"certificateRevocationList;binary", pki().crl2}});
    m_fake.fake_add_entry("cn=Other,o=Test,c=US");
    m_fake.fake_add_value("certificateRevocationList", pki().crl1.data(), pki().crl1.size());
    auto m = manager(0);
    const Pki& p = pki();
    EXPECT_EQ(fetch(*m, 'r', kSubject), (std::vector<Bytes>{p.crl1, p.crl2, p.crl2, p.crl1}));
    EXPECT_EQ(fetch(*m, 'a', kSubject),
              (std::vector<Bytes>{p.arl, p.crl1, p.crl2, p.crl2, p.crl1}));
}

TEST_F(ManagerFake, ByURLWithoutURLFunctionsInTheLibrary) {
    FakeLdap nourl(FAKELDAP_NOURL);
    const std::string url = "ldap://fakehost/o=Test";
    {
        auto m = manager(0, "cn=admin,o=Test", FAKELDAP_NOURL);
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { fetch(*m, 'l', url); },
                                                 ryxcode::kSearchFailed,
                                                 "searchByURI not supported by this client"));
        EXPECT_EQ(trace.messagesWithout("Data Read Trace"),
                  std::vector<Record>{errorRec("Error(0) from ldap_url_search_st().  Success")});
    }
    EXPECT_TRUE(fetch(*manager(2, "cn=admin,o=Test", FAKELDAP_NOURL), 'l', url).empty());
    EXPECT_EQ(nourl.fake_live_allocations(), 0);
}

}  // namespace
