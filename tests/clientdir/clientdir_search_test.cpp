// The client against a real slapd with the stock schema, through the toolkit's
// LDAP library (empty driver path) and through OpenLDAP's libldap named by path.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "clientdirutil.h"
#include "errorcodes.h"
#include "labpki.h"
#include "labslapd.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"

using namespace clientdir;

namespace {

struct Driver {
    const char* label;
    const char* path;
    bool libldap;  // OpenLDAP's library: no URL search, no ldap_get_errno/ldap_ber_free
};

const Driver kDrivers[] = {{"ryx8ldap", "", false}, {"libldap", kLibldapPath, true}};

const char* const kSuffix = "dc=example,dc=com";
const char* const kCaDn = "cn=CA1,dc=example,dc=com";

class ClientSearchTest : public ::testing::TestWithParam<Driver> {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::Stock, kSuffix);
        s_slapd->start();
        labpki::Authority ca = labpki::Authority::root("CN=CA1,O=Org,C=US");
        s_caDer = new std::string(bytes(ca.certificateDER()));
        s_slapd->addEntry(kCaDn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"CA1"}},
                                  {"description", {"first CA", "second line"}},
                                  {"cACertificate;binary", {*s_caDer}}});
        s_slapd->addLdif(
            "dn: ou=people,dc=example,dc=com\nobjectClass: organizationalUnit\n"
            "ou: people\n");
        for (const char* cn : {"Ann", "Ben", "Cid"}) {
            s_slapd->addEntry(std::string("cn=") + cn + ",ou=people," + kSuffix,
                              {{"objectClass", {"person"}}, {"cn", {cn}}, {"sn", {"S"}}});
        }
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
        delete s_caDer;
        s_caDer = nullptr;
    }

    std::unique_ptr<LDAPClient> makeClient() {
        return std::unique_ptr<LDAPClient>(
            new LDAPClient(s_slapd->host().c_str(), GetParam().path, nullptr, s_slapd->port(), 3));
    }
    std::unique_ptr<LDAPClient> rootClient() {
        std::unique_ptr<LDAPClient> client = makeClient();
        client->login(s_slapd->rootDN().c_str(), s_slapd->rootPassword().c_str());
        return client;
    }

    static LabSlapd* s_slapd;
    static std::string* s_caDer;
};

LabSlapd* ClientSearchTest::s_slapd = nullptr;
std::string* ClientSearchTest::s_caDer = nullptr;

TEST_P(ClientSearchTest, ConstructionTracesTheLoadAndItsWarnings) {
    const std::string ctorName =
        "LDAPClient(127.0.0.1 , " + std::to_string(s_slapd->port()) + " , 3 )";
    const std::string loadName =
        std::string("LDAPClient::connectDynamic(  Driver Path: ") + GetParam().path + " )";
    std::vector<Record> expected = {entryRec(ctorName), entryRec(loadName)};
    if (GetParam().libldap) {
        expected.push_back(
            errorRec("Warning: ldap_ber_free not defined in library - Window implementation?"));
        expected.push_back(
            errorRec("Warning: ldap_get_errno not defined in library - Window implementation?"));
    }
    expected.push_back(exitRec(loadName));
    expected.push_back(exitRec(ctorName));

    TraceCapture trace;
    std::unique_ptr<LDAPClient> client = makeClient();
    EXPECT_EQ(expected, trace.records());
    EXPECT_EQ(nullptr, client->m_ld);
    EXPECT_NE(nullptr, client->m_libHandle);
    EXPECT_EQ(GetParam().libldap, client->m_ldap_get_errno == nullptr);
    EXPECT_EQ(GetParam().libldap, client->m_ldap_ber_free == nullptr);
    EXPECT_EQ(GetParam().libldap, client->m_ldap_url_search_st == nullptr);
}

TEST_P(ClientSearchTest, LoginTracesTheDnButNeverThePassword) {
    std::unique_ptr<LDAPClient> client = makeClient();
    TraceCapture trace;
    EXPECT_EQ(0, client->login(s_slapd->rootDN().c_str(), s_slapd->rootPassword().c_str()));
    EXPECT_NE(nullptr, client->m_ld);
    EXPECT_EQ(0, client->m_lastError);
    EXPECT_EQ(traced("LDAPClient::login(" + s_slapd->rootDN() + ")"), trace.records());

    // The host-type overload with a password buffer and an anonymous bind.
    const std::string& pw = s_slapd->rootPassword();
    client->logout(true);
    EXPECT_EQ(0, client->login(RYXConstString(s_slapd->rootDN().c_str()),
                               RYXASNCBuffer(reinterpret_cast<const unsigned char*>(pw.data()),
                                             static_cast<unsigned int>(pw.size()))));
    EXPECT_NE(nullptr, client->m_ld);
    client->logout(true);
    EXPECT_EQ(nullptr, client->m_ld);
    EXPECT_EQ(0, client->login(nullptr, nullptr));
    EXPECT_EQ(1, client->search(kCaDn, 0, "(objectClass=*)", nullptr, 0));

    for (const std::string& t : trace.allTexts())
        EXPECT_EQ(std::string::npos, t.find(pw)) << t;
}

TEST_P(ClientSearchTest, WrongPasswordIsRefusedWith49) {
    std::unique_ptr<LDAPClient> client = makeClient();
    const std::string dn = s_slapd->rootDN();
    TraceCapture trace;
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { client->login(dn.c_str(), "not the password"); },
                                             ryxcode::kBadCredentials,
                                             "Cannot bind to LDAP server, 127.0.0.1 userDN=" + dn +
                                                 " ldap_simple_bind() rc=49. Invalid credentials"));
    EXPECT_EQ(nullptr, client->m_ld);
    EXPECT_EQ(49, client->m_lastError);
    const std::string name = "LDAPClient::login(" + dn + ")";
    EXPECT_EQ((std::vector<Record>{entryRec(name), entryRec("errorMessage"),
                                   exitRec("errorMessage"), exitRec(name)}),
              trace.records());
    for (const std::string& t : trace.allTexts())
        EXPECT_EQ(std::string::npos, t.find("not the password")) << t;

    // Not bound: a search is refused before it reaches the library.
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { client->search(kCaDn, 0, "(objectClass=*)", nullptr, 0); }, ryxcode::kNoConnection,
        "LDAP server 127.0.0.1 did not bind"));
}

TEST_P(ClientSearchTest, BinaryAndTextValuesComeBackByteForByte) {
    std::unique_ptr<LDAPClient> client = rootClient();
    const char* attrs[] = {"cACertificate", "cn", "description", nullptr};
    TraceCapture trace;
    ASSERT_EQ(1, client->search(kCaDn, 0, "(objectClass=*)", const_cast<char**>(attrs), 0));
    EXPECT_EQ(traced(std::string("LDAPClient::search( -b ") + kCaDn + "  (objectClass=*) )"),
              trace.records());
    EXPECT_EQ(0, client->m_lastError);

    LDAPSearchResults results(*client);
    ASSERT_EQ(1u, results.size());
    LDAPEntry* entry = results.next();
    ASSERT_NE(nullptr, entry);
    // The stock schema returns the certificate under its transfer option.
    const Pairs expected = {{"cACertificate;binary", *s_caDer},
                            {"cn", text("CA1")},
                            {"description", text("first CA")},
                            {"description", text("second line")},
                            {"dn", text(kCaDn)}};
    EXPECT_EQ(expected, pairsOf(*entry));
    EXPECT_EQ(nullptr, results.next());
    EXPECT_EQ(nullptr, client->m_entry);

    // The certificate decodes as the one stored.
    labpki::CertPtr cert =
        labpki::certificateFromDER(labpki::Bytes(s_caDer->begin(), s_caDer->end()));
    EXPECT_NE(nullptr, cert);
}

TEST_P(ClientSearchTest, OneLevelSearchFindsEveryEntry) {
    std::unique_ptr<LDAPClient> client = rootClient();
    const std::string base = std::string("ou=people,") + kSuffix;
    const char* attrs[] = {"sn", nullptr};
    ASSERT_EQ(
        3, client->search(base.c_str(), 1, "(objectClass=person)", const_cast<char**>(attrs), 0));
    LDAPSearchResults results(*client);
    ASSERT_EQ(3u, results.size());
    std::set<std::string> dns;
    for (LDAPEntry* e = results.next(); e != nullptr; e = results.next()) {
        ASSERT_EQ(2u, e->size());
        EXPECT_EQ(text("S"), pairsOf(*e).at(1).second);
        dns.insert(reinterpret_cast<const char*>(e->getAttributeValue("dn")));
    }
    EXPECT_EQ((std::set<std::string>{"cn=Ann," + base, "cn=Ben," + base, "cn=Cid," + base}), dns);

    // Names only.
    ASSERT_EQ(1, client->search(base.c_str(), 1, "(cn=Ben)", const_cast<char**>(attrs), 1));
    // A filter that matches nothing: an empty result, which the result set refuses.
    EXPECT_EQ(0, client->search(base.c_str(), 1, "(cn=Nobody)", nullptr, 0));
    EXPECT_NE(nullptr, client->m_result);
    EXPECT_TRUE(throwsError<RYXException>([&] { LDAPSearchResults empty(*client); }, 0,
                                          "LDAPSearchResults: zero entries found."));
}

TEST_P(ClientSearchTest, MissingBaseFailsWith32AndTheClientStaysUsable) {
    std::unique_ptr<LDAPClient> client = rootClient();
    const std::string base = std::string("cn=Nobody,") + kSuffix;
    const std::string name = "LDAPClient::search( -b " + base + "  (objectClass=*) )";
    {
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXDIRException>(
            [&] { client->search(base.c_str(), 0, "(objectClass=*)", nullptr, 0); },
            ryxcode::kSearchFailed,
            "Error searching LDAP server. ldap_search_st() rc=32. No such object"));
        EXPECT_EQ((std::vector<Record>{entryRec(name), entryRec("errorMessage"),
                                       exitRec("errorMessage"), exitRec(name)}),
                  trace.records());
    }
    EXPECT_EQ(32, client->m_lastError);
    EXPECT_NE(nullptr, client->m_ld);
    EXPECT_STREQ("No such object", client->errorMessage(0));
    EXPECT_STREQ("No such object", client->errorMessage(32));

    EXPECT_EQ(1, client->search(kCaDn, 0, "(objectClass=*)", nullptr, 0));
    EXPECT_EQ(0, client->m_lastError);
}

TEST_P(ClientSearchTest, SearchByUriWithAHost) {
    std::unique_ptr<LDAPClient> client = rootClient();
    const RYXString url(
        (s_slapd->url() + "/" + kCaDn + "?cn,description?base?(objectClass=*)").c_str());
    TraceCapture trace;
    if (GetParam().libldap) {
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { client->searchByURI(url, 0); },
                                                 ryxcode::kSearchFailed,
                                                 "searchByURI not supported by this client"));
        EXPECT_TRUE(trace.records().empty()) << ::testing::PrintToString(trace.records());
        return;
    }
    ASSERT_EQ(1, client->searchByURI(url, 0));
    EXPECT_EQ(traced(std::string("LDAPClient::searchByURI(") + url.c_str() + " )"),
              trace.records());
    LDAPSearchResults results(*client);
    ASSERT_EQ(1u, results.size());
    const Pairs expected = {{"cn", text("CA1")},
                            {"description", text("first CA")},
                            {"description", text("second line")},
                            {"dn", text(kCaDn)}};
    EXPECT_EQ(expected, pairsOf(*results.next()));

    const RYXString missing(
        (s_slapd->url() + "/cn=Nobody," + kSuffix + "?cn?base?(objectClass=*)").c_str());
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { client->searchByURI(missing, 0); }, ryxcode::kSearchFailed,
        "Error searching LDAP server by URI. ldap_url_search_st() rc=32. No such object"));
    EXPECT_EQ(32, client->m_lastError);
}

INSTANTIATE_TEST_SUITE_P(Drivers, ClientSearchTest, ::testing::ValuesIn(kDrivers),
                         [](const ::testing::TestParamInfo<Driver>& info) {
                             return std::string(info.param.label);
                         });

TEST(ClientLoad, ALibraryThatCannotBeOpenedFailsWith576001) {
    TraceCapture trace;
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [] { LDAPClient client("127.0.0.1", "/nonexistent/libldap.so", nullptr, 389, 3); },
        ryxcode::kLibraryUnusable, ""));
    const std::string ctorName = "LDAPClient(127.0.0.1 , 389 , 3 )";
    const std::string loadName =
        "LDAPClient::connectDynamic(  Driver Path: /nonexistent/libldap.so )";
    EXPECT_EQ((std::vector<Record>{entryRec(ctorName), entryRec(loadName),
                                   errorRec("Failed to open LDAP shared library client"),
                                   exitRec(loadName), exitRec(ctorName)}),
              trace.records());
}

}  // namespace
