// Search results built from a client's result message, walked through the
// scriptable fake LDAP library.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakeldap_control.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "ldiftestutil.h"
#include "ryxexception.h"

namespace {

using ::testing::ElementsAre;

std::string t(const std::string& text) {
    return text + std::string(1, '\0');
}

void addValue(FakeLdap& fake, const char* attr, const std::string& bytes) {
    fake.fake_add_value(attr, bytes.data(), bytes.size());
}

class ResultsWalk : public ::testing::Test {
  protected:
    explicit ResultsWalk(const char* library = FAKELDAP_FULL)
        : m_library(library), m_fake(library) {}

    void SetUp() override {
        m_baseline = m_fake.fake_live_allocations();
        m_client.reset(new LDAPClient("fakehost", m_library, nullptr, 389, 3));
        m_client->login("cn=admin,o=x", "secret");
    }

    void TearDown() override {
        m_client.reset();
        // Everything the walk and the client took from the library went back.
        EXPECT_EQ(m_baseline, m_fake.fake_live_allocations());
    }

    int search() { return m_client->search("o=x", 2, "(objectClass=*)", nullptr, 0); }

    // Builds a set and expects the constructor to fail with this message.
    void expectFailure(const std::string& message) {
        const int firstEntryCalls = m_fake.fake_call_count("ldap_first_entry");
        try {
            LDAPSearchResults results(*m_client);
            ADD_FAILURE() << "no exception";
        } catch (const RYXException& e) {
            EXPECT_EQ(0, e.getError());
            EXPECT_EQ(message, e.getMessage().c_str());
            EXPECT_STREQ("ldapsearch.cpp", e.getFile());
        }
        // Raised before the first entry is read.
        EXPECT_EQ(firstEntryCalls, m_fake.fake_call_count("ldap_first_entry"));
    }

    const char* m_library;
    FakeLdap m_fake;
    std::unique_ptr<LDAPClient> m_client;
    int m_baseline = 0;
};

TEST_F(ResultsWalk, EntriesInResultOrderWithCursorAndReset) {
    for (const char* dn : {"cn=c,o=x", "cn=a,o=x", "cn=b,o=x"}) {
        m_fake.fake_add_entry(dn);
        addValue(m_fake, "cn", dn + 3);
    }
    ASSERT_EQ(3, search());
    LDAPSearchResults results(*m_client);
    EXPECT_EQ(nullptr, m_client->m_entry);
    ASSERT_EQ(3u, results.size());

    std::vector<LDAPEntry*> pass;
    for (LDAPEntry* e = results.next(); e != nullptr; e = results.next()) {
        pass.push_back(e);
    }
    ASSERT_EQ(3u, pass.size());
    EXPECT_EQ(nullptr, results.next());
    EXPECT_EQ((Pairs{{"cn", t("c,o=x")}, {"dn", t("cn=c,o=x")}}), pairsOf(*pass[0]));
    EXPECT_STREQ("cn=a,o=x", reinterpret_cast<const char*>(pass[1]->getAttributeValue("dn")));
    EXPECT_STREQ("cn=b,o=x", reinterpret_cast<const char*>(pass[2]->getAttributeValue("dn")));

    results.reset();
    EXPECT_EQ(pass[0], results.next());
    EXPECT_EQ(pass[1], results.next());
    results.reset();
    EXPECT_EQ(pass[0], results.next());

    results.erase();
    EXPECT_EQ(0u, results.size());
    EXPECT_EQ(nullptr, results.next());
}

// Printable values are text with their NUL, everything else exact bytes.
TEST_F(ResultsWalk, TextAndBinaryValueForms) {
    m_fake.fake_add_entry("cn=v,o=x");
    addValue(m_fake, "v", "hello");
    addValue(m_fake, "v", std::string("he\x01lo", 5));
    addValue(m_fake, "v", "");
    addValue(m_fake, "v", "a\tb");
    addValue(m_fake, "v", "\x7F");
    addValue(m_fake, "v", "caf\xC3\xA9");
    addValue(m_fake, "v", std::string("\x30\x03\x02\x01\x00", 5));
    addValue(m_fake, "v", " ~ ");
    ASSERT_EQ(1, search());
    LDAPSearchResults results(*m_client);
    LDAPEntry* entry = results.next();
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ((Pairs{{"dn", t("cn=v,o=x")},
                     {"v", t("hello")},
                     {"v", std::string("he\x01lo", 5)},
                     {"v", t("")},
                     {"v", "a\tb"},
                     {"v", "\x7F"},
                     {"v", "caf\xC3\xA9"},
                     {"v", std::string("\x30\x03\x02\x01\x00", 5)},
                     {"v", t(" ~ ")}}),
              pairsOf(*entry));
    EXPECT_EQ(6u, entry->find("v")->second->getLength());
}

TEST_F(ResultsWalk, NullDnAndAttributesWithoutValues) {
    m_fake.fake_add_entry(nullptr);
    addValue(m_fake, "cn", "a");
    m_fake.fake_add_attribute_without_values("member");
    addValue(m_fake, "sn", "b");
    m_fake.fake_add_entry("cn=empty,o=x");
    m_fake.fake_add_entry(nullptr);
    m_fake.fake_add_attribute_without_values("seeAlso");
    ASSERT_EQ(3, search());
    LDAPSearchResults results(*m_client);
    ASSERT_EQ(3u, results.size());
    EXPECT_EQ((Pairs{{"cn", t("a")}, {"sn", t("b")}}), pairsOf(*results.next()));
    EXPECT_EQ((Pairs{{"dn", t("cn=empty,o=x")}}), pairsOf(*results.next()));
    EXPECT_EQ(Pairs{}, pairsOf(*results.next()));
    // Each attribute name, also the one without values, and each DN went back.
    EXPECT_EQ(5, m_fake.fake_call_count("ldap_memfree"));
    EXPECT_EQ(3, m_fake.fake_call_count("ldap_ber_free"));
    // freebuf 0: the element's buffer is the entry's.
    const std::string log = m_fake.fake_call_log();
    size_t zeros = 0;
    for (size_t at = log.find("ldap_ber_free(0)"); at != std::string::npos;
         at = log.find("ldap_ber_free(0)", at + 1)) {
        ++zeros;
    }
    EXPECT_EQ(3u, zeros);
    EXPECT_EQ(2, m_fake.fake_call_count("ldap_value_free_len"));
}

TEST_F(ResultsWalk, AttributeNamedLikeTheDnJoinsItAfterTheDn) {
    m_fake.fake_add_entry("cn=a,o=x");
    addValue(m_fake, "DN", "other");
    addValue(m_fake, "DN", "third");
    ASSERT_EQ(1, search());
    LDAPSearchResults results(*m_client);
    LDAPEntry* entry = results.next();
    EXPECT_EQ((Pairs{{"dn", t("cn=a,o=x")}, {"DN", t("other")}, {"DN", t("third")}}),
              pairsOf(*entry));
    EXPECT_EQ(3u, entry->count("Dn"));
    EXPECT_STREQ("cn=a,o=x", reinterpret_cast<const char*>(entry->getAttributeValue("DN")));
}

TEST_F(ResultsWalk, WalkGivesBackEverythingItTook) {
    for (int i = 0; i < 20; ++i) {
        m_fake.fake_add_entry(("cn=" + std::to_string(i) + ",o=x").c_str());
        for (int a = 0; a < 5; ++a) {
            const std::string name = "attr" + std::to_string(a);
            addValue(m_fake, name.c_str(), "text");
            addValue(m_fake, name.c_str(), std::string("\x00\x01", 2));
        }
    }
    ASSERT_EQ(20, search());
    const int withMessage = m_fake.fake_live_allocations();
    {
        LDAPSearchResults results(*m_client);
        EXPECT_EQ(20u, results.size());
        EXPECT_EQ(withMessage, m_fake.fake_live_allocations());
    }
    // The result message stays with the client.
    EXPECT_NE(nullptr, m_client->m_result);
    EXPECT_EQ(withMessage, m_fake.fake_live_allocations());
}

TEST_F(ResultsWalk, EmptyResultIsZeroEntries) {
    ASSERT_EQ(0, search());
    TraceCapture capture;
    expectFailure("LDAPSearchResults: zero entries found.");
    EXPECT_THAT(capture.names(),
                ElementsAre("> LDAPSearchResults::LDAPSearchResults(LDAPClient & client)",
                            "< LDAPSearchResults::LDAPSearchResults(LDAPClient & client)"));
}

// The count decides only whether the result is empty; the walk follows the chain.
TEST_F(ResultsWalk, CountOnlyTellsEmptiness) {
    m_fake.fake_add_entry("cn=a,o=x");
    m_fake.fake_add_entry("cn=b,o=x");
    m_fake.fake_add_entry("cn=c,o=x");
    m_fake.fake_set_count_override(1, 1);
    ASSERT_EQ(1, search());
    {
        LDAPSearchResults results(*m_client);
        EXPECT_EQ(3u, results.size());
    }
    m_fake.fake_set_count_override(1, 7);
    search();
    {
        LDAPSearchResults results(*m_client);
        EXPECT_EQ(3u, results.size());
    }
    m_fake.fake_set_count_override(1, 0);
    search();
    expectFailure("LDAPSearchResults: zero entries found.");
    m_fake.fake_set_count_override(0, 0);
}

TEST_F(ResultsWalk, UncountableResultCarriesTheLibrarysText) {
    m_fake.fake_add_entry("cn=a,o=x");
    search();
    m_fake.fake_set_count_override(1, -1);
    m_fake.fake_set_errno_override(1, 81);
    expectFailure("LDAPSearchResults: Can't contact LDAP server");
    m_fake.fake_set_errno_override(0, 0);
    expectFailure("LDAPSearchResults: Success");
    m_fake.fake_set_count_override(0, 0);
}

// Without ldap_get_errno the text is that of the client's last result code.
class ResultsWalkNoErrno : public ResultsWalk {
  protected:
    ResultsWalkNoErrno() : ResultsWalk(FAKELDAP_NOERRNO) {}
};

TEST_F(ResultsWalkNoErrno, UncountableResultUsesTheLastResultCode) {
    m_fake.fake_add_entry("cn=a,o=x");
    m_fake.fake_push_result("ldap_search_st", 32);
    EXPECT_THROW(search(), RYXDIRException);
    ASSERT_EQ(32, m_client->m_lastError);
    m_fake.fake_set_count_override(1, -5);
    m_fake.fake_set_errno_override(1, 81);
    expectFailure("LDAPSearchResults: No such object");
    m_fake.fake_set_count_override(0, 0);
    m_fake.fake_set_errno_override(0, 0);
}

}  // namespace
