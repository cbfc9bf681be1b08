// The directory manager end to end, the way the toolkit uses it: the plug-in is
// loaded through the library manager, its registered entry function makes the
// manager, and the manager fetches from a real slapd whose schema gives the
// certificate attributes the octet-string syntax (values under the plain names,
// text values allowed). Also the faults: a restarted and a stopped server, a
// wrong password, a missing entry, unloading and a duplicate.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kCaDN = "cn=Root CA,dc=example,dc=com";
const char* const kHexDN = "cn=Hex CA,dc=example,dc=com";
const char* const kAliceDN = "cn=Alice,ou=People,dc=example,dc=com";
const char* const kHeading = "Data Read Trace Limited to 256 Bytes:";
const char* const kDown = "Can't contact LDAP server";

// One-line PEM: printable text without the mark.
std::string oneLinePem(const Bytes& der) {
    std::string pem = labpki::certificatePEM(der);
    std::string line;
    for (char c : pem) {
        if (c != '\n') {
            line += c;
        }
    }
    return line;
}

struct Data {
    labpki::Authority root = labpki::Authority::root(kCaDN);
    labpki::Authority inter1 = root.intermediate("cn=Inter One,dc=example,dc=com");
    labpki::Authority inter2 = root.intermediate("cn=Inter Two,dc=example,dc=com");
    labpki::Authority inter3 = root.intermediate("cn=Inter Three,dc=example,dc=com");
    Bytes alice1 = root.issue(kAliceDN, 101);
    Bytes alice2 = root.issue(kAliceDN, 102);
    Bytes laptop = root.issue("cn=Laptop,cn=Alice,ou=People,dc=example,dc=com", 103);
    Bytes crl = root.crl([] {
        labpki::CrlOptions o;
        o.revokedCount = 2;
        return o;
    }());
    Bytes arl = root.arl();
    Bytes crl2 = root.crl([] {
        labpki::CrlOptions o;
        o.crlNumber = 2;
        return o;
    }());
};

class ManagerOctetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString);
        s_slapd->start();
        s_data = new Data;
        const Data& d = *s_data;
        // The CA's values: binary DER, the two accepted marks, a mark in other
        // letter case and a one-line PEM (both skipped).
        s_slapd->addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"Root CA"}},
                                  {"cACertificate",
                                   {bytes(d.root.certificateDER()),
                                    labpki::asnHexText(d.inter1.certificateDER(), "{ASN}"),
                                    labpki::asnHexText(d.inter2.certificateDER(), "{Asn}"),
                                    labpki::asnHexText(d.inter3.certificateDER(), "{asn}"),
                                    oneLinePem(d.inter3.certificateDER())}},
                                  {"certificateRevocationList", {bytes(d.crl)}},
                                  {"authorityRevocationList", {bytes(d.arl)}}});
        // Below the CA: outside its base-object search.
        s_slapd->addEntry("cn=Sub,cn=Root CA,dc=example,dc=com",
                          {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"Sub"}},
                           {"cACertificate", {bytes(d.inter3.certificateDER())}}});
        // Revocation lists as marked hex text and as binary DER.
        s_slapd->addEntry(
            kHexDN,
            {{"objectClass", {"applicationProcess", "pkiCA"}},
             {"cn", {"Hex CA"}},
             {"certificateRevocationList", {labpki::asnHexText(d.crl, "{ASN}"), bytes(d.crl2)}},
             {"authorityRevocationList", {labpki::asnHexText(d.arl, "{Asn}")}}});
        s_slapd->addEntry("ou=People,dc=example,dc=com",
                          {{"objectClass", {"organizationalUnit"}}, {"ou", {"People"}}});
        s_slapd->addEntry(kAliceDN, {{"objectClass", {"inetOrgPerson"}},
                                     {"cn", {"Alice"}},
                                     {"sn", {"Example"}},
                                     {"userCertificate", {bytes(d.alice1), bytes(d.alice2)}}});
        s_slapd->addEntry("cn=Laptop,cn=Alice,ou=People,dc=example,dc=com",
                          {{"objectClass", {"applicationProcess", "pkiUser"}},
                           {"cn", {"Laptop"}},
                           {"userCertificate", {bytes(d.laptop)}}});
    }
    static void TearDownTestSuite() {
        delete s_data;
        s_data = nullptr;
        delete s_slapd;
        s_slapd = nullptr;
    }

    void SetUp() override {
        if (!s_slapd->running()) {
            s_slapd->start();
        }
        m_plugin.reset(new Plugin);
    }
    void TearDown() override { m_plugin.reset(); }

    // The root DN's connection on the fixture's port.
    static Connection admin(int errorMode = 0) {
        Connection c;
        c.port = s_slapd->port();
        c.userDN = s_slapd->rootDN();
        c.password = s_slapd->rootPassword();
        c.errorMode = errorMode;
        return c;
    }

    static std::vector<Bytes> caCertificates(RYXDIRManager& m, const char* dn = kCaDN) {
        std::unique_ptr<RYXASNCertificateContainer> c(m.getCACertificates(RYXASNx500Name(dn)));
        EXPECT_TRUE(c != nullptr);
        return contents(c.get());
    }

    static std::vector<Bytes> expectedCa() {
        return {s_data->root.certificateDER(), s_data->inter1.certificateDER(),
                s_data->inter2.certificateDER()};
    }

    static LabSlapd* s_slapd;
    static Data* s_data;
    std::unique_ptr<Plugin> m_plugin;
};

LabSlapd* ManagerOctetTest::s_slapd = nullptr;
Data* ManagerOctetTest::s_data = nullptr;

TEST_F(ManagerOctetTest, CaCertificatesDecodeBinaryAndMarkedHexAndSkipOtherText) {
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->isKindOf(RYXString("LDAPDIRManager")));
    EXPECT_TRUE(m->isKindOf(RYXString("RYXDIRManager")));
    EXPECT_EQ(0, m->getClassName().compare(RYXString("LDAPDIRManager")));
    // Value order, "{ASN}" and "{Asn}" decoded; "{asn}" and the PEM line skipped;
    // the entry below the CA is not searched (base object).
    EXPECT_EQ(expectedCa(), caCertificates(*m));
    // An entry without the attribute gives an empty container.
    EXPECT_TRUE(caCertificates(*m, kAliceDN).empty());
}

TEST_F(ManagerOctetTest, UserCertificatesComeFromTheWholeSubtree) {
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    std::unique_ptr<RYXASNCertificateContainer> c(m->getUserCertificates(RYXASNx500Name(kAliceDN)));
    ASSERT_TRUE(c);
    const std::vector<Bytes> expected = {s_data->alice1, s_data->alice2, s_data->laptop};
    EXPECT_EQ(expected, contents(c.get()));
}

TEST_F(ManagerOctetTest, AnonymousManagerReadsTheDirectory) {
    Connection c = admin();
    c.userDN.clear();
    c.password = "not used without a DN";
    std::unique_ptr<RYXDIRManager> m = makeManager(c);
    EXPECT_EQ(expectedCa(), caCertificates(*m));
    EXPECT_TRUE(m->validateConnection());
}

TEST_F(ManagerOctetTest, OneValueThatDoesNotDecodeFailsTheWholeCall) {
    const Bytes good = s_data->root.certificateDER();
    struct Case {
        const char* name;
        std::string bad;
        int code;
    } cases[] = {
        {"not DER", std::string("\x30\x03\x02\x01", 4), RYX_ERR_ASN_DECODE},
        // Line breaks make a PEM text binary to the printable test.
        {"PEM with line breaks", labpki::certificatePEM(good), RYX_ERR_ASN_DECODE},
        {"marked text that is not hex", "{ASN}30zz", RYX_ERR_HEX_STRING},
        {"marked hex that is not a certificate", "{ASN}300302010a", RYX_ERR_ASN_DECODE},
    };
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dn = std::string("cn=") + c.name + ",dc=example,dc=com";
        s_slapd->addEntry(dn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                               {"cn", {c.name}},
                               {"cACertificate", {bytes(good), c.bad}}});
        expectThrows<RYXException>([&] { caCertificates(*m, dn.c_str()); }, c.code);
        s_slapd->deleteEntry(dn);
    }
    // The manager stays usable.
    EXPECT_EQ(expectedCa(), caCertificates(*m));
}

TEST_F(ManagerOctetTest, RevocationListsFromMarkedHexAndBinaryWithTheirDumps) {
    const Data& d = *s_data;
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    TraceCapture trace;
    std::unique_ptr<RYXASNCRLContainer> c(m->getCRLs(RYXASNx500Name(kHexDN)));
    ASSERT_TRUE(c);
    EXPECT_EQ((std::vector<Bytes>{d.crl, d.crl2}), contents(c.get()));
    // The revocation-list heading has no colon; text values are dumped with
    // their NUL.
    const std::string nul(1, '\0');
    const std::string hexCrl = labpki::asnHexText(d.crl, "{ASN}") + nul;
    const char* plain = "Data Read Trace Limited to 256 Bytes";
    EXPECT_EQ((std::vector<Record>{dump(plain, hexCrl), dump(plain, bytes(d.crl2))}),
              trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    c.reset(m->getARLs(RYXASNx500Name(kHexDN)));
    ASSERT_TRUE(c);
    EXPECT_EQ((std::vector<Bytes>{d.arl, d.crl, d.crl2}), contents(c.get()));
}

TEST_F(ManagerOctetTest, RevocationListThatDoesNotDecodeFailsTheWholeCall) {
    const char* dn = "cn=Broken CRL CA,dc=example,dc=com";
    s_slapd->addEntry(dn,
                      {{"objectClass", {"applicationProcess", "pkiCA"}},
                       {"cn", {"Broken CRL CA"}},
                       {"certificateRevocationList", {bytes(s_data->crl), "\x30\x03\x02\x01"}}});
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    expectThrows<RYXASNException>([&] { m->getCRLs(RYXASNx500Name(dn)); }, RYX_ERR_ASN_DECODE);
    // By URL the same value is skipped.
    const std::string url = s_slapd->url() + "/" + dn + "?certificateRevocationList";
    std::unique_ptr<RYXASNCRLContainer> c(m->getViaURI(RYXString(url.c_str())));
    ASSERT_TRUE(c);
    EXPECT_EQ(std::vector<Bytes>{s_data->crl}, contents(c.get()));
    s_slapd->deleteEntry(dn);
}

TEST_F(ManagerOctetTest, MissingEntryThrowsOrGivesAnEmptyContainerByErrorMode) {
    const char* nobody = "cn=Nobody,dc=example,dc=com";
    std::unique_ptr<RYXDIRManager> strict = makeManager(admin(0));
    expectThrows<RYXDIRException>(
        [&] { caCertificates(*strict, nobody); }, 576004,
        "Error searching LDAP server. ldap_search_st() rc=32. No such object");
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        std::unique_ptr<RYXDIRManager> m = makeManager(admin(mode));
        EXPECT_TRUE(caCertificates(*m, nobody).empty());
        std::unique_ptr<RYXASNCRLContainer> crls(m->getCRLs(RYXASNx500Name(nobody)));
        ASSERT_TRUE(crls);
        EXPECT_TRUE(crls->empty());
    }
}

TEST_F(ManagerOctetTest, WrongPasswordIsRefusedWith576009) {
    const std::string refused =
        "Cannot bind to LDAP server, 127.0.0.1 userDN=" + s_slapd->rootDN() +
        " ldap_simple_bind() rc=49. Invalid credentials";
    Connection c = admin();
    EXPECT_TRUE(makeManager(c)->validateConnection());
    c.password = "wrong";
    std::unique_ptr<RYXDIRManager> m = makeManager(c);
    expectThrows<RYXDIRException>([&] { m->validateConnection(); }, 576009, refused.c_str());
    // No connection is kept: the next call binds again and fails the same way.
    expectThrows<RYXDIRException>([&] { caCertificates(*m); }, 576009, refused.c_str());
    // Mode 1 spares only "no such object"; any other mode gives an empty result.
    c.errorMode = 1;
    std::unique_ptr<RYXDIRManager> lenient = makeManager(c);
    expectThrows<RYXDIRException>([&] { caCertificates(*lenient); }, 576009, refused.c_str());
    c.errorMode = 2;
    EXPECT_TRUE(caCertificates(*makeManager(c)).empty());
}

TEST_F(ManagerOctetTest, UrlWithAttributeReturnsTheListsOfThatEntry) {
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    const std::string url = s_slapd->url() + "/" + kCaDN + "?certificateRevocationList";
    std::unique_ptr<RYXASNCRLContainer> c(m->getViaURI(RYXString(url.c_str())));
    ASSERT_TRUE(c);
    EXPECT_EQ(std::vector<Bytes>{s_data->crl}, contents(c.get()));
}

TEST_F(ManagerOctetTest, UrlWithoutAttributesKeepsOnlyWhatDecodesAsACrl) {
    // A URL search makes no bind: a wrong password does not matter.
    Connection c = admin();
    c.password = "wrong";
    std::unique_ptr<RYXDIRManager> m = makeManager(c);
    const std::string url = s_slapd->url() + "/" + kCaDN;
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(url.c_str())));
    ASSERT_TRUE(crls);
    // Names in case-insensitive order: authorityRevocationList first; the
    // certificates, the marked certificates and the text attributes are skipped.
    const std::vector<Bytes> expected = {s_data->arl, s_data->crl};
    EXPECT_EQ(expected, contents(crls.get()));
}

TEST_F(ManagerOctetTest, FailedUrlSearchByErrorMode) {
    const std::string url = s_slapd->url() + "/cn=Nobody,dc=example,dc=com?cn";
    {
        std::unique_ptr<RYXDIRManager> m = makeManager(admin(0));
        TraceCapture trace;
        expectThrows<RYXDIRException>(
            [&] { m->getViaURI(RYXString(url.c_str())); }, 576004,
            "Error searching LDAP server by URI. ldap_url_search_st() rc=32. No such object");
        EXPECT_EQ(
            std::vector<Record>{errorRec("Error(32) from ldap_url_search_st().  No such object")},
            trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    }
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        std::unique_ptr<RYXDIRManager> m = makeManager(admin(mode));
        std::unique_ptr<RYXASNCRLContainer> c(m->getViaURI(RYXString(url.c_str())));
        ASSERT_TRUE(c);
        EXPECT_TRUE(c->empty());
    }
}

TEST_F(ManagerOctetTest, LibraryWithoutUrlFunctions) {
    // The fake library answers ldap_err2string itself: ask it for the text the
    // trace message carries.
    void* fake = dlopen(FAKELDAP_NOURL, RTLD_NOW);
    ASSERT_NE(nullptr, fake) << dlerror();
    auto err2string = reinterpret_cast<char* (*)(int)>(dlsym(fake, "ldap_err2string"));
    ASSERT_NE(nullptr, err2string);
    const std::string expectedTrace =
        std::string("Error(0) from ldap_url_search_st().  ") + err2string(0);

    Connection c = admin(0);
    c.driverPath = FAKELDAP_NOURL;
    const RYXString url((s_slapd->url() + "/" + kCaDN).c_str());
    {
        std::unique_ptr<RYXDIRManager> m = makeManager(c);
        TraceCapture trace;
        expectThrows<RYXDIRException>([&] { m->getViaURI(url); }, 576004,
                                      "searchByURI not supported by this client");
        EXPECT_EQ(std::vector<Record>{errorRec(expectedTrace)},
                  trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    }
    c.errorMode = 2;
    std::unique_ptr<RYXDIRManager> m = makeManager(c);
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(url));
    ASSERT_TRUE(crls);
    EXPECT_TRUE(crls->empty());
    m.reset();
    dlclose(fake);
}

TEST_F(ManagerOctetTest, RestartedServerCostsExactlyOneRetry) {
    std::unique_ptr<RYXDIRManager> m = makeManager(admin());
    EXPECT_EQ(expectedCa(), caCertificates(*m));  // logged in from here on
    s_slapd->restart();
    ASSERT_GT(s_data->root.certificateDER().size(), 256u);
    TraceCapture trace;
    EXPECT_EQ(expectedCa(), caCertificates(*m));
    // The retry message once, then a dump of every value as the search results
    // store it (text with its NUL), each cut at 256 bytes.
    std::vector<Record> expected = {
        errorRec(std::string("Error(81) from ldap_search().  ") + kDown + "  Retrying.")};
    const std::string nul(1, '\0');
    for (const std::string& value :
         {bytes(s_data->root.certificateDER()),
          labpki::asnHexText(s_data->inter1.certificateDER(), "{ASN}") + nul,
          labpki::asnHexText(s_data->inter2.certificateDER(), "{Asn}") + nul,
          labpki::asnHexText(s_data->inter3.certificateDER(), "{asn}") + nul,
          oneLinePem(s_data->inter3.certificateDER()) + nul}) {
        expected.push_back(dump(kHeading, value));
    }
    EXPECT_EQ(expected, trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    // The dead connection was dropped without an unbind and one new log-in made.
    EXPECT_EQ(1u, trace.entries("LDAPClient::login(" + s_slapd->rootDN() + ")"));
    EXPECT_EQ(1u, trace.entries("LDAPClient::logout()"));
}

TEST_F(ManagerOctetTest, StoppedServerByErrorMode) {
    std::unique_ptr<RYXDIRManager> managers[3];
    for (int mode = 0; mode < 3; ++mode) {
        managers[mode] = makeManager(admin(mode));
        EXPECT_EQ(expectedCa(), caCertificates(*managers[mode]));
    }
    s_slapd->stop();
    const Record retry =
        errorRec(std::string("Error(81) from ldap_search().  ") + kDown + "  Retrying.");
    const std::string refused =
        "Cannot bind to LDAP server, 127.0.0.1 userDN=" + s_slapd->rootDN() +
        " ldap_simple_bind() rc=81. " + kDown;
    for (int mode = 0; mode < 3; ++mode) {
        SCOPED_TRACE(mode);
        TraceCapture trace;
        if (mode < 2) {
            // The retry's log-in fails: thrown in modes 0 and 1 (81 is not 32).
            expectThrows<RYXDIRException>([&] { caCertificates(*managers[mode]); }, 576002,
                                          refused.c_str());
        } else {
            EXPECT_TRUE(caCertificates(*managers[mode]).empty());
        }
        EXPECT_EQ(std::vector<Record>{retry}, trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    }
    // A manager that never logged in fails at once, without a retry.
    TraceCapture trace;
    std::unique_ptr<RYXDIRManager> fresh = makeManager(admin(0));
    expectThrows<RYXDIRException>([&] { fresh->validateConnection(); }, 576002, refused.c_str());
    EXPECT_TRUE(trace.atLevel(RYX_TRACE_LEVEL_ERROR).empty());
    s_slapd->start();
    // Back up: the manager of mode 0 logs in again.
    EXPECT_EQ(expectedCa(), caCertificates(*managers[0]));
}

TEST_F(ManagerOctetTest, DuplicateOutlivesItsOriginal) {
    std::unique_ptr<RYXDIRManager> original = makeManager(admin());
    EXPECT_EQ(expectedCa(), caCertificates(*original));
    std::unique_ptr<RYXDIRManager> copy(original->duplicate());
    ASSERT_TRUE(copy);
    EXPECT_NE(original.get(), copy.get());
    original.reset();
    EXPECT_EQ(expectedCa(), caCertificates(*copy));
    EXPECT_TRUE(copy->validateConnection());
    std::unique_ptr<RYXASNCRLContainer> arls(copy->getARLs(RYXASNx500Name(kCaDN)));
    ASSERT_TRUE(arls);
    const std::vector<Bytes> expected = {s_data->arl, s_data->crl};
    EXPECT_EQ(expected, contents(arls.get()));
}

TEST_F(ManagerOctetTest, LoadUnloadAndLoadAgainRegisterOnceEachTime) {
    const RYXString name(kPluginName);
    m_plugin.reset();
    ASSERT_EQ(0u, RYXLibraryManager::countLibEntries(name));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        TraceCapture trace;
        {
            Plugin plugin;
            EXPECT_EQ(1u, RYXLibraryManager::countLibEntries(name));
            ASSERT_NE(nullptr, RYXLibraryManager::findLibEntry(name));
            EXPECT_EQ(expectedCa(), caCertificates(*makeManager(admin())));
        }
        EXPECT_EQ(0u, RYXLibraryManager::countLibEntries(name));
        EXPECT_EQ(nullptr, RYXLibraryManager::findLibEntry(name));
        // Loading traced where the library was loaded from.
        std::vector<Record> load;
        for (const Record& r : trace.atLevel(RYX_TRACE_LEVEL_ERROR)) {
            if (r.component == RYX_TRACE_COMP_LOAD) {
                load.push_back(r);
            }
        }
        ASSERT_EQ(1u, load.size());
        char* real = realpath(RYX_PLUGIN_PATH, nullptr);
        ASSERT_NE(nullptr, real);
        EXPECT_EQ((Record{RYX_TRACE_COMP_LOAD, RYX_TRACE_LEVEL_ERROR, real}), load[0]);
        free(real);
        EXPECT_EQ(1u, trace.entries("init"));
        EXPECT_EQ(1u, trace.entries("fini"));
    }
}

TEST_F(ManagerOctetTest, FactoryRefusesBadArguments) {
    expectThrows<RYXDIRException>(
        [] { RYXLibraryManager::callLibEntry(RYXString(kPluginName), nullptr); }, 571002,
        "args cannot be NULL");
    RYXDIRConnectInfo::HTTP http("http://127.0.0.1/");
    expectThrows<RYXDIRException>(
        [&] { RYXLibraryManager::callLibEntry(RYXString(kPluginName), &http); }, 571002,
        "args is invalid");
    Connection c = admin();
    c.driverPath = "/nonexistent/libldap.so";
    expectThrows<RYXDIRException>([&] { makeManager(c); }, 576001, "");
}

}  // namespace
