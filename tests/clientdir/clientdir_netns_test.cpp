// Runs inside a private network namespace (see CMakeLists.txt): slapd listens
// on 127.0.0.1:389 under dc=localhost, so a URL without a host is completed to
// "localhost" from its dc= components and reaches it on the default port.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "clientdirutil.h"
#include "errorcodes.h"
#include "labpki.h"
#include "labslapd.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"

using namespace clientdir;

namespace {

class ClientNetnsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString, "dc=localhost", 389);
        s_slapd->start();
        labpki::Authority ca = labpki::Authority::root("CN=Local CA,DC=localhost");
        s_crl = new std::string(bytes(ca.crl()));
        s_slapd->addEntry("cn=CRL,dc=localhost", {{"objectClass", {"cRLDistributionPoint"}},
                                                  {"cn", {"CRL"}},
                                                  {"certificateRevocationList", {*s_crl}}});
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
        delete s_crl;
        s_crl = nullptr;
    }

    // Searches url and checks that the one entry found is the CRL entry. A URL
    // that names no host has it made from its DN first.
    void expectCrlEntry(LDAPClient& client, const std::string& url, const std::string& searched) {
        TraceCapture trace;
        ASSERT_EQ(1, client.searchByURI(RYXString(url.c_str()), 0));
        std::vector<Record> records;
        if (url != searched) {
            records = traced("convertDCtoHost");
        }
        const std::vector<Record> search = traced("LDAPClient::searchByURI(" + searched + " )");
        records.insert(records.end(), search.begin(), search.end());
        EXPECT_EQ(records, trace.records());
        LDAPSearchResults results(client);
        ASSERT_EQ(1u, results.size());
        const Pairs expected = {{"certificateRevocationList", *s_crl},
                                {"dn", text("cn=CRL,dc=localhost")}};
        EXPECT_EQ(expected, pairsOf(*results.next()));
    }

    static LabSlapd* s_slapd;
    static std::string* s_crl;
};

LabSlapd* ClientNetnsTest::s_slapd = nullptr;
std::string* ClientNetnsTest::s_crl = nullptr;

const char* const kHostless = "ldap:///cn=CRL,dc=localhost?certificateRevocationList";
const char* const kCompleted = "ldap://localhost/cn=CRL,dc=localhost?certificateRevocationList";

TEST_F(ClientNetnsTest, HostlessUrlIsCompletedFromItsDcComponents) {
    // init_client opens a connection to the default host without a bind.
    LDAPClient client("127.0.0.1", "", nullptr, 389, 3);
    ASSERT_TRUE(client.init_client());
    expectCrlEntry(client, kHostless, kCompleted);
    // A URL that names its host is searched as it is.
    expectCrlEntry(client, kCompleted, kCompleted);
}

TEST_F(ClientNetnsTest, UriHostLogsInWithoutABind) {
    // "URI" as the host: ldap_init gets no host and no bind is made, so a wrong
    // password cannot fail.
    LDAPClient client("URI", "", nullptr, 389, 3);
    EXPECT_EQ(0, client.login(s_slapd->rootDN().c_str(), "not checked"));
    ASSERT_NE(nullptr, client.m_ld);
    expectCrlEntry(client, kHostless, kCompleted);
}

TEST_F(ClientNetnsTest, HostlessUrlOfAMissingEntryFailsWith32) {
    LDAPClient client("127.0.0.1", "", nullptr, 389, 3);
    ASSERT_TRUE(client.init_client());
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { client.searchByURI(RYXString("ldap:///cn=Nobody,dc=localhost?cn"), 0); },
        ryxcode::kSearchFailed,
        "Error searching LDAP server by URI. ldap_url_search_st() rc=32. No such object"));
    EXPECT_EQ(32, client.m_lastError);
    // The connection stays usable.
    expectCrlEntry(client, kHostless, kCompleted);
}

}  // namespace
