// Entry modification through the client against a real slapd whose schema gives
// the certificate attributes the octet-string syntax (values under plain names).
#include <gtest/gtest.h>

#include <functional>
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

const char* const kSuffix = "dc=example,dc=com";

class ClientModifyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString, kSuffix);
        s_slapd->start();
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
    }

    void SetUp() override {
        m_client.reset(new LDAPClient(s_slapd->host().c_str(), "", nullptr, s_slapd->port(), 3));
        m_client->login(s_slapd->rootDN().c_str(), s_slapd->rootPassword().c_str());
    }

    static std::string dn(const std::string& rdn) { return rdn + "," + kSuffix; }

    // Every stored pair of one entry, read back with a base search.
    Pairs readBack(const std::string& entryDn) {
        EXPECT_EQ(1, m_client->search(entryDn.c_str(), 0, "(objectClass=*)", nullptr, 0));
        LDAPSearchResults results(*m_client);
        EXPECT_EQ(1u, results.size());
        LDAPEntry* entry = results.next();
        return entry != nullptr ? pairsOf(*entry) : Pairs();
    }
    // Whether a base search finds the entry; any failure but 32 fails the test.
    bool exists(const std::string& entryDn) {
        try {
            return m_client->search(entryDn.c_str(), 0, "(objectClass=*)", nullptr, 0) == 1;
        } catch (const RYXDIRException& e) {
            EXPECT_EQ(32, m_client->m_lastError) << e.what();
            return false;
        }
    }
    // A person entry under the suffix, added through the fixture.
    void addPerson(const std::string& cn) {
        s_slapd->addEntry(dn("cn=" + cn),
                          {{"objectClass", {"person"}}, {"cn", {cn}}, {"sn", {"S"}}});
    }
    // Checks a refused write: false result, the server's code and its text.
    void expectRefused(bool result, int code, const char* message) {
        EXPECT_FALSE(result);
        EXPECT_EQ(code, m_client->m_lastError);
        EXPECT_STREQ(message, m_client->errorMessage(0));
        EXPECT_STREQ(message, m_client->errorMessage(code));
    }

    static LabSlapd* s_slapd;
    std::unique_ptr<LDAPClient> m_client;
};

LabSlapd* ClientModifyTest::s_slapd = nullptr;

TEST_F(ClientModifyTest, AddedCertificateAndTextsReadBackByteForByte) {
    labpki::Authority ca = labpki::Authority::root("CN=CA2,O=Org,C=US");
    const std::string der = bytes(ca.certificateDER());
    const std::string crl = bytes(ca.crl());
    const std::string hex = labpki::asnHexText(ca.certificateDER());
    const std::string entryDn = dn("cn=CA2");

    LDAPEntry entry;
    entry.addAttribute("dn", entryDn.c_str(), 0);
    entry.addAttribute("objectClass", "applicationProcess", 0);
    entry.addAttribute("objectClass", "pkiCA", 0);
    entry.addAttribute("cn", "CA2", 0);
    entry.addAttribute("description", "a CA with two certificate forms", 0);
    entry.addAttribute("cACertificate", der.data(), static_cast<unsigned int>(der.size()));
    entry.addAttribute("cACertificate", hex.c_str(), 0);
    entry.addAttribute("certificateRevocationList", crl.data(),
                       static_cast<unsigned int>(crl.size()));
    {
        TraceCapture trace;
        // A null DN takes the entry's own "dn" value.
        EXPECT_TRUE(m_client->addEntry(&entry, nullptr));
        const std::string name = "LDAPClient::addEntry( " + entryDn + " )";
        EXPECT_EQ((std::vector<Record>{entryRec("LdapModArray::LdapModArray"),
                                       exitRec("LdapModArray::LdapModArray"), entryRec(name),
                                       exitRec(name), entryRec("~LdapModArray"),
                                       exitRec("~LdapModArray")}),
                  trace.records());
    }
    EXPECT_EQ(0, m_client->m_lastError);

    // Binary values come back as their bytes, text values (the hex text too) as
    // text with the NUL the result set adds: none was sent with them.
    const Pairs expected = {{"cACertificate", der},
                            {"cACertificate", text(hex)},
                            {"certificateRevocationList", crl},
                            {"cn", text("CA2")},
                            {"description", text("a CA with two certificate forms")},
                            {"dn", text(entryDn)},
                            {"objectClass", text("applicationProcess")},
                            {"objectClass", text("pkiCA")}};
    EXPECT_EQ(expected, readBack(entryDn));

    // The same entry again is refused: it exists.
    expectRefused(m_client->addEntry(&entry, nullptr), 68, "Already exists");
}

TEST_F(ClientModifyTest, ModifyReplacesOnlyTheAttributesTheEntryHolds) {
    const std::string entryDn = dn("cn=Mod");
    s_slapd->addEntry(entryDn, {{"objectClass", {"person"}},
                                {"cn", {"Mod"}},
                                {"sn", {"Before"}},
                                {"description", {"old one", "old two"}},
                                {"telephoneNumber", {"+1 555 0100"}}});
    LDAPEntry change;
    change.addAttribute("description", "new", 0);
    change.addAttribute("sn", "After", 0);
    change.addAttribute("sn", "Later", 0);
    {
        TraceCapture trace;
        EXPECT_TRUE(m_client->modifyEntry(&change, entryDn.c_str()));
        const std::string name = "LDAPClient::modifyEntry( " + entryDn + " )";
        EXPECT_EQ((std::vector<Record>{entryRec("LdapModArray::LdapModArray"),
                                       exitRec("LdapModArray::LdapModArray"), entryRec(name),
                                       exitRec(name), entryRec("~LdapModArray"),
                                       exitRec("~LdapModArray")}),
                  trace.records());
    }
    EXPECT_EQ(0, m_client->m_lastError);
    const Pairs expected = {{"cn", text("Mod")},
                            {"description", text("new")},
                            {"dn", text(entryDn)},
                            {"objectClass", text("person")},
                            {"sn", text("After")},
                            {"sn", text("Later")},
                            {"telephoneNumber", text("+1 555 0100")}};
    EXPECT_EQ(expected, readBack(entryDn));

    // The entry's "dn" value names the target when no DN is given.
    LDAPEntry byOwnDn;
    byOwnDn.addAttribute("dn", entryDn.c_str(), 0);
    byOwnDn.addAttribute("telephoneNumber", "+1 555 0199", 0);
    EXPECT_TRUE(m_client->modifyEntry(&byOwnDn, nullptr));
    EXPECT_EQ(text("+1 555 0199"), readBack(entryDn).back().second);

    // A missing entry is refused with 32.
    expectRefused(m_client->modifyEntry(&change, dn("cn=Nobody").c_str()), 32, "No such object");
}

TEST_F(ClientModifyTest, ModifyRdnKeepsOrDropsTheOldValue) {
    addPerson("Keep");
    {
        TraceCapture trace;
        EXPECT_TRUE(m_client->modifyRDN(dn("cn=Keep").c_str(), "cn=Kept", 0));
        EXPECT_EQ(traced("LDAPClient::modifyRDN( " + dn("cn=Keep") + " , cn=Kept )"),
                  trace.records());
    }
    EXPECT_EQ(0, m_client->m_lastError);
    EXPECT_FALSE(exists(dn("cn=Keep")));
    Pairs kept = readBack(dn("cn=Kept"));
    EXPECT_EQ((Pairs{{"cn", text("Keep")}, {"cn", text("Kept")}}),
              Pairs(kept.begin(), kept.begin() + 2));

    addPerson("Drop");
    EXPECT_TRUE(m_client->modifyRDN(dn("cn=Drop").c_str(), "cn=Dropped", 1));
    EXPECT_FALSE(exists(dn("cn=Drop")));
    const Pairs expected = {{"cn", text("Dropped")},
                            {"dn", text(dn("cn=Dropped"))},
                            {"objectClass", text("person")},
                            {"sn", text("S")}};
    EXPECT_EQ(expected, readBack(dn("cn=Dropped")));

    // Onto an existing name, and of an entry that does not exist.
    expectRefused(m_client->modifyRDN(dn("cn=Kept").c_str(), "cn=Dropped", 1), 68,
                  "Already exists");
    expectRefused(m_client->modifyRDN(dn("cn=Nobody").c_str(), "cn=Somebody", 1), 32,
                  "No such object");
}

TEST_F(ClientModifyTest, DeleteRemovesTheEntryOnce) {
    addPerson("Gone");
    {
        TraceCapture trace;
        EXPECT_TRUE(m_client->deleteEntry(dn("cn=Gone").c_str()));
        EXPECT_EQ(traced("LDAPClient::deleteEntry( " + dn("cn=Gone") + " )"), trace.records());
    }
    EXPECT_EQ(0, m_client->m_lastError);
    EXPECT_FALSE(exists(dn("cn=Gone")));
    expectRefused(m_client->deleteEntry(dn("cn=Gone").c_str()), 32, "No such object");

    // An entry with children cannot be deleted.
    s_slapd->addLdif(
        "dn: ou=parent,dc=example,dc=com\nobjectClass: organizationalUnit\n"
        "ou: parent\n\ndn: cn=child,ou=parent,dc=example,dc=com\n"
        "objectClass: person\ncn: child\nsn: c\n");
    expectRefused(m_client->deleteEntry(dn("ou=parent").c_str()), 66,
                  "Operation not allowed on non-leaf");
    EXPECT_TRUE(exists(dn("ou=parent")));
}

TEST_F(ClientModifyTest, AddUnderAMissingParentIsRefused) {
    LDAPEntry entry;
    entry.addAttribute("objectClass", "person", 0);
    entry.addAttribute("cn", "Orphan", 0);
    entry.addAttribute("sn", "O", 0);
    const std::string orphan = "cn=Orphan,ou=missing," + std::string(kSuffix);
    expectRefused(m_client->addEntry(&entry, orphan.c_str()), 32, "No such object");
    // A value the schema refuses (person has no cACertificate).
    entry.addAttribute("cACertificate", "\x30\x03\x02\x01\x07", 5);
    expectRefused(m_client->addEntry(&entry, dn("cn=Orphan").c_str()), 65,
                  "Object class violation");
    EXPECT_FALSE(exists(dn("cn=Orphan")));
}

TEST_F(ClientModifyTest, WritesWithoutTheRightCredentialsAreRefused) {
    LDAPEntry entry;
    entry.addAttribute("objectClass", "person", 0);
    entry.addAttribute("cn", "Anon", 0);
    entry.addAttribute("sn", "A", 0);
    addPerson("Target");

    // A wrong password leaves no connection: the writes fail without a call and
    // the bind's code stays.
    LDAPClient wrong(s_slapd->host().c_str(), "", nullptr, s_slapd->port(), 3);
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { wrong.login(s_slapd->rootDN().c_str(), "wrong"); }, ryxcode::kBadCredentials,
        "Cannot bind to LDAP server, 127.0.0.1 userDN=" + s_slapd->rootDN() +
            " ldap_simple_bind() rc=49. Invalid credentials"));
    EXPECT_EQ(nullptr, wrong.m_ld);
    EXPECT_FALSE(wrong.addEntry(&entry, dn("cn=Anon").c_str()));
    EXPECT_FALSE(wrong.modifyEntry(&entry, dn("cn=Target").c_str()));
    EXPECT_FALSE(wrong.deleteEntry(dn("cn=Target").c_str()));
    EXPECT_FALSE(wrong.modifyRDN(dn("cn=Target").c_str(), "cn=Moved", 1));
    EXPECT_EQ(49, wrong.m_lastError);
    EXPECT_STREQ("Invalid credentials", wrong.errorMessage(0));

    // Writes need a bind: an anonymous one is told to authenticate, a user without
    // write rights is refused access.
    s_slapd->addEntry(dn("cn=Reader"), {{"objectClass", {"person"}},
                                        {"cn", {"Reader"}},
                                        {"sn", {"R"}},
                                        {"userPassword", {"reader secret"}}});
    LDAPClient anonymous(s_slapd->host().c_str(), "", nullptr, s_slapd->port(), 3);
    anonymous.login(nullptr, nullptr);
    LDAPClient reader(s_slapd->host().c_str(), "", nullptr, s_slapd->port(), 3);
    reader.login(dn("cn=Reader").c_str(), "reader secret");
    struct Case {
        LDAPClient* client;
        int code;
        const char* text;
    };
    for (const Case& c : {Case{&anonymous, 8, "Strong(er) authentication required"},
                          Case{&reader, 50, "Insufficient access"}}) {
        ASSERT_NE(nullptr, c.client->m_ld);
        LDAPEntry change;
        change.addAttribute("sn", "Changed", 0);
        LDAPClient& client = *c.client;
        const std::vector<std::function<bool()>> writes = {
            [&] { return client.addEntry(&entry, dn("cn=Anon").c_str()); },
            [&] { return client.modifyEntry(&change, dn("cn=Target").c_str()); },
            [&] { return client.deleteEntry(dn("cn=Target").c_str()); },
            [&] { return client.modifyRDN(dn("cn=Target").c_str(), "cn=Moved", 1); }};
        for (size_t i = 0; i < writes.size(); ++i) {
            client.m_lastError = 0;
            EXPECT_FALSE(writes[i]()) << "write " << i;
            EXPECT_EQ(c.code, client.m_lastError) << "write " << i;
            EXPECT_STREQ(c.text, client.errorMessage(0)) << "write " << i;
        }
    }
    EXPECT_EQ(text("S"), readBack(dn("cn=Target")).back().second);
    EXPECT_TRUE(exists(dn("cn=Target")));
    EXPECT_FALSE(exists(dn("cn=Anon")));
}

}  // namespace
