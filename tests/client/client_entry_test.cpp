// The directory entry, host completion of URLs, and entry writes through the
// modification array (against the fake LDAP library).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "clienttestutil.h"
#include "fakeldap_control.h"
#include "ldapclient.h"

using namespace clienttest;

namespace {

std::string valueOf(LDAPEntry::const_iterator it) {
    return std::string(reinterpret_cast<const char*>(it->second->getValue()),
                       it->second->getLength());
}

// The values of one attribute, in their order.
std::vector<std::string> values(const LDAPEntry& e, const char* name) {
    std::vector<std::string> out;
    LDAPEntry::const_iterator it = e.find(name);
    for (size_t n = e.count(name); n > 0; --n, ++it)
        out.push_back(valueOf(it));
    return out;
}

std::string t(const std::string& text) {
    return text + std::string(1, '\0');
}

TEST(Entry, NamesIgnoreCaseAndValuesKeepTheirOrder) {
    LDAPEntry e;
    e.addAttribute("cn", "b", 0);
    e.addAttribute("sn", "s", 0);
    e.addAttribute("CN", "a", 0);
    e.addAttribute("Cn", "c", 0);
    e.addAttribute("cn", nullptr, 7);  // nothing added
    e.addAttribute("seeAlso", "\x01\x02\x03zz", 3);
    EXPECT_EQ(5u, e.size());
    EXPECT_EQ(3u, e.count("CN"));
    EXPECT_EQ((std::vector<std::string>{t("b"), t("a"), t("c")}), values(e, "cN"));
    EXPECT_EQ(std::string("\x01\x02\x03", 3), values(e, "seealso").front());
    EXPECT_STREQ("b", reinterpret_cast<const char*>(e.getAttributeValue("CN")));
    EXPECT_EQ(nullptr, e.getAttributeValue("mail"));
    // The name keeps the case it was added with.
    EXPECT_STREQ("cn", e.find("CN")->first);
}

TEST(Entry, RemoveByValueIgnoresCaseAndTakesOnlyTheFirst) {
    LDAPEntry e;
    e.addAttribute("ou", "Sales", 0);
    e.addAttribute("ou", "sales", 0);
    e.addAttribute("ou", "Other", 0);
    e.addAttribute("userCertificate", "SALES", 5);  // binary, no NUL
    e.addAttribute("cn", "x", 0);
    EXPECT_TRUE(e.removeAttribute("OU", "SALES"));
    EXPECT_EQ((std::vector<std::string>{t("sales"), t("Other")}), values(e, "ou"));
    EXPECT_FALSE(e.removeAttribute("ou", "missing"));
    EXPECT_FALSE(e.removeAttribute("mail", nullptr));
    // A stored value without a NUL compares within its length.
    EXPECT_TRUE(e.removeAttribute("userCertificate", "sales"));
    EXPECT_TRUE(e.removeAttribute("ou", nullptr));
    EXPECT_EQ(0u, e.count("ou"));
    EXPECT_EQ(1u, e.size());
}

TEST(Entry, PrintableTest) {
    const unsigned char text[] = "abc def~";
    EXPECT_TRUE(isPrintable(text, 8));
    EXPECT_TRUE(isPrintable(nullptr, 0));
    EXPECT_TRUE(isPrintable(nullptr, -1));
    const unsigned char tab[] = "a\tb";
    EXPECT_FALSE(isPrintable(tab, 3));
    const unsigned char del[] = {'a', 0x7f};
    EXPECT_FALSE(isPrintable(del, 2));
    const unsigned char high[] = {0xe9};
    EXPECT_FALSE(isPrintable(high, 1));
    EXPECT_TRUE(isPrintable(tab, 1));  // only the first count bytes count
}

TEST(ConvertDCtoHost, HostComesFromTheDcComponents) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"ldap:///cn=CA1,o=Org,dc=example,dc=com?cACertificate",
         "ldap://example.com/cn=CA1,o=Org,dc=example,dc=com?cACertificate"},
        {"ldap:///cn=x,dc=example,dc=com?cn?sub?(objectClass=*)",
         "ldap://example.com/cn=x,dc=example,dc=com?cn?sub?(objectClass=*)"},
        {"ldap:///DC=Example,DC=Com", "ldap://Example.Com/DC=Example,DC=Com"},
        {"ldap:///dc=example, dc=com", "ldap://example .com/dc=example, dc=com"},
        {"ldap:///dc=a,ou=b,dc=c??base", "ldap://aou=b.c/dc=a,ou=b,dc=c??base"},
        {"ldap:///o=Org,c=US?certificateRevocationList",
         "ldap:///o=Org,c=US?certificateRevocationList"},
        {"ldaps:///dc=a,dc=b", "ldaps://a.b/dc=a,dc=b"},
        {"http:///dc=a,dc=b", "http:///dc=a,dc=b"},
        {"dc=a", "dc=a"},
    };
    FakeLdap fake(FAKELDAP_FULL);
    LDAPClient c("h", FAKELDAP_FULL, nullptr, 389, 3);
    for (const auto& k : cases)
        EXPECT_STREQ(k.out, c.convertDCtoHost(RYXString(k.in)).c_str()) << k.in;
}

class ClientWrite : public ::testing::Test {
  protected:
    ClientWrite() : m_fake(FAKELDAP_FULL), m_client("h", FAKELDAP_FULL, nullptr, 389, 3) {
        m_client.login("cn=admin", "pw");
    }
    void TearDown() override { EXPECT_EQ(0, m_fake.fake_live_allocations()); }
    FakeLdap m_fake;
    LDAPClient m_client;
};

TEST_F(ClientWrite, AddSendsOneModificationPerAttributeWithItsLengthRules) {
    LDAPEntry e;
    e.addAttribute("dn", "cn=n,o=x", 0);
    e.addAttribute("cn", "b", 0);
    e.addAttribute("CN", "a", 0);
    e.addAttribute("cn", "c", 0);
    e.addAttribute("description", "", 0);  // only the NUL
    std::string binary(300, 'x');
    binary[10] = '\x01';
    e.addAttribute("userCertificate", binary.data(), 300);
    e.addAttribute("sn", "abc", 4);  // text with its NUL
    TraceCapture trace;
    ASSERT_TRUE(m_client.addEntry(&e, nullptr));
    EXPECT_STREQ("cn=n,o=x", m_fake.fake_last_dn());
    std::string certHex;
    for (unsigned char ch : binary) {
        static const char digits[] = "0123456789abcdef";
        certHex += digits[ch >> 4];
        certHex += digits[ch & 15];
    }
    EXPECT_EQ(
        "op=128 type=cn n=3 [1:62] [1:61] [1:63]\n"
        "op=128 type=description n=1 [0:]\n"
        "op=128 type=sn n=1 [3:616263]\n"
        "op=128 type=userCertificate n=1 [300:" +
            certHex + "]",
        std::string(m_fake.fake_last_mods()));
    const std::string name = "LDAPClient::addEntry( cn=n,o=x )";
    std::vector<Record> expected = {entryRec("LdapModArray::LdapModArray"),
                                    exitRec("LdapModArray::LdapModArray"),
                                    entryRec(name),
                                    exitRec(name),
                                    entryRec("~LdapModArray"),
                                    exitRec("~LdapModArray")};
    std::vector<Record> seen;
    for (const Record& r : trace.all())
        if (r.text != "getAttributeValue")
            seen.push_back(r);
    EXPECT_EQ(expected, seen);
}

TEST_F(ClientWrite, ModifyReplacesAndAnEntryOfOnlyItsDnSendsNothing) {
    LDAPEntry e;
    e.addAttribute("dn", "cn=n,o=x", 0);
    ASSERT_TRUE(m_client.modifyEntry(&e, "cn=other,o=x"));
    EXPECT_STREQ("cn=other,o=x", m_fake.fake_last_dn());
    EXPECT_STREQ("(empty)", m_fake.fake_last_mods());
    e.addAttribute("mail", "m@x", 0);
    ASSERT_TRUE(m_client.modifyEntry(&e, nullptr));
    EXPECT_STREQ("op=130 type=mail n=1 [3:6d4078]", m_fake.fake_last_mods());

    m_fake.fake_push_result("ldap_modify_s", 32);
    EXPECT_FALSE(m_client.modifyEntry(&e, nullptr));
    EXPECT_EQ(32, m_client.m_lastError);
    EXPECT_STREQ("No such object", m_client.errorMessage(0));
}

TEST_F(ClientWrite, NothingSensibleToSendIsRefusedWithoutACall) {
    LDAPEntry noDn;
    noDn.addAttribute("cn", "x", 0);
    TraceCapture trace;
    EXPECT_FALSE(m_client.addEntry(&noDn, nullptr));
    EXPECT_EQ(LDAP_PARAM_ERROR, m_client.m_lastError);
    EXPECT_FALSE(m_client.modifyEntry(nullptr, "cn=x"));
    EXPECT_EQ(0, m_fake.fake_call_count("ldap_add_s") + m_fake.fake_call_count("ldap_modify_s"));
    const std::vector<Record> records = trace.all();
    EXPECT_NE(records.end(),
              std::find(records.begin(), records.end(), entryRec("LDAPClient::addEntry( null )")));

    // A DN under two spellings: the exact "dn" pair is never sent, the other
    // spelling goes as one attribute with its own values only.
    LDAPEntry twoDns;
    twoDns.addAttribute("dn", "cn=a,o=x", 0);
    twoDns.addAttribute("DN", "cn=b,o=x", 0);
    twoDns.addAttribute("sn", "s", 0);
    ASSERT_TRUE(m_client.addEntry(&twoDns, nullptr));
    EXPECT_STREQ("cn=a,o=x", m_fake.fake_last_dn());
    EXPECT_EQ("op=128 type=DN n=1 [8:636e3d622c6f3d78]\nop=128 type=sn n=1 [1:73]",
              std::string(m_fake.fake_last_mods()));
}

TEST_F(ClientWrite, DeleteAndRenamePassTheirArgumentsAndCodes) {
    EXPECT_TRUE(m_client.deleteEntry("cn=a,o=x"));
    EXPECT_STREQ("cn=a,o=x", m_fake.fake_last_dn());
    m_fake.fake_push_result("ldap_delete_s", 32);
    EXPECT_FALSE(m_client.deleteEntry("cn=a,o=x"));
    EXPECT_EQ(32, m_client.m_lastError);

    TraceCapture trace;
    EXPECT_TRUE(m_client.modifyRDN("cn=a,o=x", "cn=b", 1));
    EXPECT_STREQ("cn=b", m_fake.fake_last_newrdn());
    EXPECT_EQ(1, m_fake.fake_last_deleteoldrdn());
    const std::string name = "LDAPClient::modifyRDN( cn=a,o=x , cn=b )";
    EXPECT_EQ((std::vector<Record>{entryRec(name), exitRec(name)}), trace.all());
    m_fake.fake_push_result("ldap_modrdn_s", 68);
    EXPECT_FALSE(m_client.modifyRDN("cn=a,o=x", "cn=b", 0));
    EXPECT_EQ(68, m_client.m_lastError);
    EXPECT_EQ(0, m_fake.fake_last_deleteoldrdn());
}

TEST_F(ClientWrite, WithoutAConnectionNothingIsCalledAndTheCodeStays) {
    m_client.logout(true);
    m_client.m_lastError = 42;
    m_fake.fake_reset();
    LDAPEntry e;
    e.addAttribute("cn", "x", 0);
    TraceCapture trace;
    EXPECT_FALSE(m_client.addEntry(&e, "cn=x"));
    EXPECT_FALSE(m_client.modifyEntry(&e, "cn=x"));
    EXPECT_FALSE(m_client.deleteEntry(nullptr));
    EXPECT_FALSE(m_client.modifyRDN("cn=x", nullptr, 1));
    EXPECT_EQ(42, m_client.m_lastError);
    EXPECT_STREQ("", m_fake.fake_call_log());
    const std::vector<Record> records = trace.all();
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                       entryRec("LDAPClient::deleteEntry( null )")));
    EXPECT_NE(records.end(), std::find(records.begin(), records.end(),
                                       entryRec("LDAPClient::modifyRDN( cn=x , null )")));
}

TEST(ModificationOutput, OneModificationAsText) {
    LDAPEntry e;
    e.addAttribute("cn", "abc", 0);
    e.addAttribute("x", "\x01\x02", 2);
    LdapModArray add(&e, LDAP_MOD_REPLACE);
    std::ostringstream os;
    os << *add.get()[0] << *add.get()[1];
    EXPECT_EQ(
        " Operation: 130\n Attribute: cn\n  (Len)Val: (3) abc\n"
        " Operation: 130\n Attribute: x\n  (Len)Val: (2) \x01\x02\n",
        os.str());
    EXPECT_EQ(nullptr, add.get()[2]);
    LdapModArray none(nullptr, LDAP_MOD_ADD);
    EXPECT_EQ(nullptr, none.get());
}

}  // namespace
