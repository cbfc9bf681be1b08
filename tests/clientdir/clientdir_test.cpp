// The client against slapd: searches on the stock schema through the toolkit's
// LDAP library and OpenLDAP's libldap; writes on the octet-string schema.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "entrypairs.h"
#include "errorcodes.h"
#include "expectthrows.h"
#include "labpki.h"
#include "labslapd.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "ryxexception.h"
#include "tracecapture.h"

using namespace entrytest;
using namespace tracetest;

namespace {

const char* const kSuffix = "dc=example,dc=com";
const char* const kCaDn = "cn=CA1,dc=example,dc=com";
const char* const kPeople = "ou=people,dc=example,dc=com";
const char* const kAll = "(objectClass=*)";

std::string bytes(const labpki::Bytes& b) {
    return std::string(b.begin(), b.end());
}

// No record of any component holds the text.
void expectNowhere(const TraceCapture& trace, const std::string& secret) {
    for (const Record& r : trace.all())
        EXPECT_EQ(std::string::npos, r.text.find(secret)) << r;
}

// The driver path: empty for the toolkit's library, else OpenLDAP's libldap,
// which has no URL search, no ldap_get_errno and no ldap_ber_free.
class ClientSearch : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() {
        s_slapd = std::make_unique<LabSlapd>(LabSlapd::Schema::Stock, kSuffix);
        s_slapd->start();
        s_caDer = bytes(labpki::Authority::root("CN=CA1,O=Org,C=US").certificateDER());
        s_slapd->addEntry(kCaDn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"CA1"}},
                                  {"description", {"first CA", "second: with a colon"}},
                                  {"cACertificate;binary", {s_caDer}}});
        s_slapd->addEntry(kPeople, {{"objectClass", {"organizationalUnit"}}, {"ou", {"people"}}});
        for (const std::string cn : {"Ann", "Ben", "Cid"}) {
            s_slapd->addEntry("cn=" + cn + "," + kPeople,
                              {{"objectClass", {"person"}}, {"cn", {cn}}, {"sn", {"S"}}});
        }
    }
    static void TearDownTestSuite() { s_slapd.reset(); }
    bool libldap() const { return *GetParam() != '\0'; }
    std::unique_ptr<LDAPClient> connect(bool login = true) {
        auto client = std::make_unique<LDAPClient>(s_slapd->host().c_str(), GetParam(), nullptr,
                                                   s_slapd->port(), 3);
        if (login)
            client->login(s_slapd->rootDN().c_str(), s_slapd->rootPassword().c_str());
        return client;
    }

    static inline std::unique_ptr<LabSlapd> s_slapd;
    static inline std::string s_caDer;
};

TEST_P(ClientSearch, LoginTracesTheDnButNeverThePassword) {
    std::unique_ptr<LDAPClient> client = connect(false);
    const std::string dn = s_slapd->rootDN();
    const std::string& pw = s_slapd->rootPassword();
    const std::string name = "LDAPClient::login(" + dn + ")";
    {
        TraceCapture trace;
        EXPECT_EQ(0, client->login(dn.c_str(), pw.c_str()));
        EXPECT_EQ(traced(name), trace.plugin());
        expectNowhere(trace, pw);
    }
    client->logout(true);
    {
        // A wrong password (its code, message and what is left: the fake).
        TraceCapture trace;
        EXPECT_THROW(client->login(dn.c_str(), "not the password"), RYXDIRException);
        EXPECT_EQ(exitRec(name), trace.plugin().back());
        expectNowhere(trace, "not the password");
    }
    // Anonymous: no DN in the name, and the directory answers; a missing entry
    // fails with 32 and the client stays usable (by URL: the manager's cases).
    TraceCapture trace;
    EXPECT_EQ(0, client->login(nullptr, nullptr));
    EXPECT_EQ(traced("LDAPClient::login()"), trace.plugin());
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { client->search("cn=Nobody,dc=example,dc=com", 0, kAll, nullptr, 0); },
        ryxcode::kSearchFailed,
        "Error searching LDAP server. ldap_search_st() rc=32. No such object"));
    EXPECT_EQ(1, client->search(kCaDn, 0, kAll, nullptr, 0));
    EXPECT_EQ(0, client->m_lastError);
}

TEST_P(ClientSearch, EntriesComeBackByteForByte) {
    std::unique_ptr<LDAPClient> client = connect();
    const char* attrs[] = {"cACertificate", "cn", "description", nullptr};
    TraceCapture trace;
    ASSERT_EQ(1, client->search(kCaDn, 0, kAll, const_cast<char**>(attrs), 0));
    EXPECT_EQ(traced(std::string("LDAPClient::search( -b ") + kCaDn + "  " + kAll + " )"),
              trace.plugin());
    {
        LDAPSearchResults results(*client);
        ASSERT_EQ(1u, results.size());
        // The stock schema returns the certificate under its transfer option.
        Pairs expected = pairsOfField(std::string("cn: CA1 | description: first CA | ") +
                                      "description: second: with a colon | dn: " + kCaDn);
        expected.insert(expected.begin(), {"cACertificate;binary", s_caDer});
        EXPECT_EQ(expected, pairsOf(*results.next()));
    }
    // One level down: every entry; a filter that matches nothing: none.
    ASSERT_EQ(3, client->search(kPeople, 1, "(objectClass=person)", const_cast<char**>(attrs), 0));
    LDAPSearchResults results(*client);
    std::set<Pairs> found;
    while (LDAPEntry* entry = results.next())
        found.insert(pairsOf(*entry));
    std::set<Pairs> expected;
    for (const std::string cn : {"Ann", "Ben", "Cid"})
        expected.insert(pairsOfField("cn: " + cn + " | dn: cn=" + cn + "," + kPeople));
    EXPECT_EQ(expected, found);
    EXPECT_EQ(0, client->search(kPeople, 1, "(cn=Nobody)", nullptr, 0));
    EXPECT_NE(nullptr, client->m_result);
    // A URL with a host is searched there (libldap has no URL search: see the
    // fake library without it).
    if (libldap())
        return;
    const std::string url = s_slapd->url() + "/" + kCaDn + "?cn?base?" + kAll;
    TraceCapture byUrl;
    ASSERT_EQ(1, client->searchByURI(RYXString(url.c_str()), 0));
    EXPECT_EQ(traced("LDAPClient::searchByURI(" + url + " )"), byUrl.plugin());
    EXPECT_EQ(pairsOfField(std::string("cn: CA1 | dn: ") + kCaDn),
              pairsOf(*LDAPSearchResults(*client).next()));
}

INSTANTIATE_TEST_SUITE_P(Drivers, ClientSearch, ::testing::Values("", RYX_LIBLDAP_PATH),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(*info.param != '\0' ? "libldap" : "ryx8ldap");
                         });

// One entry through its life on the octet-string schema: added, modified,
// renamed twice, deleted; each write once refused by the server.
TEST(ClientWrite, WritesReachTheDirectoryAndReportItsAnswers) {
    LabSlapd slapd(LabSlapd::Schema::OctetString, kSuffix);
    slapd.start();
    LDAPClient client(slapd.host().c_str(), "", nullptr, slapd.port(), 3);
    client.login(slapd.rootDN().c_str(), slapd.rootPassword().c_str());
    // Every stored pair of one entry, read back with a base search; none when
    // the entry does not exist.
    const auto readBack = [&](const std::string& dn) {
        try {
            EXPECT_EQ(1, client.search(dn.c_str(), 0, kAll, nullptr, 0));
        } catch (const RYXDIRException& e) {
            EXPECT_EQ(32, client.m_lastError) << e.what();
            return Pairs();
        }
        return pairsOf(*LDAPSearchResults(client).next());
    };
    // A write the server refused: false, its code and its text.
    const auto expectRefused = [&](bool result, int code, const char* message) {
        EXPECT_FALSE(result);
        EXPECT_EQ(code, client.m_lastError);
        EXPECT_STREQ(message, client.errorMessage(0));
    };
    labpki::Authority ca = labpki::Authority::root("CN=CA2,O=Org,C=US");
    const std::string der = bytes(ca.certificateDER());
    const std::string crl = bytes(ca.crl());
    const std::string hex = labpki::asnHexText(ca.certificateDER());
    const std::string dn = std::string("cn=CA2,") + kSuffix;
    LDAPEntry entry;
    addPairs(entry,
             "dn: " + dn + " | objectClass: applicationProcess | objectClass: pkiCA | cn: CA2");
    entry.addAttribute("cACertificate", der.data(), static_cast<unsigned int>(der.size()));
    entry.addAttribute("certificateRevocationList", crl.data(),
                       static_cast<unsigned int>(crl.size()));
    {
        TraceCapture trace;
        // A null DN takes the entry's own "dn" value.
        EXPECT_TRUE(client.addEntry(&entry, nullptr));
        const std::string name = "LDAPClient::addEntry( " + dn + " )";
        EXPECT_EQ((std::vector<Record>{entryRec("LdapModArray::LdapModArray"),
                                       exitRec("LdapModArray::LdapModArray"), entryRec(name),
                                       exitRec(name), entryRec("~LdapModArray"),
                                       exitRec("~LdapModArray")}),
                  trace.plugin());
    }
    EXPECT_EQ(0, client.m_lastError);
    expectRefused(client.addEntry(&entry, nullptr), 68, "Already exists");

    // Replaces the values of the attributes it holds, leaves the others. Binary
    // values come back as their bytes, text (the hex text too) with the NUL the
    // result set adds: none was sent.
    LDAPEntry change;
    change.addAttribute("cACertificate", hex.c_str(), 0);
    change.addAttribute("cACertificate", der.data(), static_cast<unsigned int>(der.size()));
    EXPECT_TRUE(client.modifyEntry(&change, dn.c_str()));
    Pairs stored = {
        {"cACertificate", text(hex)}, {"cACertificate", der}, {"certificateRevocationList", crl}};
    for (const auto& pair : pairsOfField("cn: CA2 | dn: " + dn +
                                         " | objectClass: applicationProcess | objectClass: pkiCA"))
        stored.push_back(pair);
    EXPECT_EQ(stored, readBack(dn));
    expectRefused(client.modifyEntry(&change, ("cn=Nobody," + std::string(kSuffix)).c_str()), 32,
                  "No such object");

    // Renamed keeping the old value, then dropping it.
    const std::string kept = std::string("cn=CA3,") + kSuffix;
    const std::string dropped = std::string("cn=CA4,") + kSuffix;
    {
        TraceCapture trace;
        EXPECT_TRUE(client.modifyRDN(dn.c_str(), "cn=CA3", 0));
        EXPECT_EQ(traced("LDAPClient::modifyRDN( " + dn + " , cn=CA3 )"), trace.plugin());
    }
    EXPECT_TRUE(client.modifyRDN(kept.c_str(), "cn=CA4", 1));
    EXPECT_EQ(Pairs(), readBack(dn));
    const Pairs after = readBack(dropped);
    EXPECT_EQ(pairsOfField("cn: CA2 | cn: CA4 | dn: " + dropped),
              Pairs(after.begin() + 3, after.begin() + 6));
    expectRefused(client.modifyRDN(kept.c_str(), "cn=CA5", 1), 32, "No such object");

    {
        TraceCapture trace;
        EXPECT_TRUE(client.deleteEntry(dropped.c_str()));
        EXPECT_EQ(traced("LDAPClient::deleteEntry( " + dropped + " )"), trace.plugin());
    }
    EXPECT_EQ(Pairs(), readBack(dropped));
    expectRefused(client.deleteEntry(dropped.c_str()), 32, "No such object");
}

}  // namespace
