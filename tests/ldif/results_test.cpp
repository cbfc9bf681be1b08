// Result sets: read from LDIF-like text (line grammar, record boundaries,
// failures, cursor), and walked from a client's result message through the
// fake LDAP library (what a real server cannot send: entries without a DN,
// attributes without values, counts that disagree with the chain).
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "entrypairs.h"
#include "expectthrows.h"
#include "fakeldap_control.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "ryxexception.h"
#include "tracecapture.h"

using namespace entrytest;
using namespace tracetest;

namespace {

const char* const kFromText = "LDAPSearchResults::LDAPSearchResults(istream & is)";
const std::string kSixLines = "dn: cn=a,o=x\ncn: a\ncn: b\n\ndn: cn=c,o=x\nsn: c\n";

std::vector<Pairs> readAll(LDAPSearchResults& results) {
    std::vector<Pairs> all;
    while (LDAPEntry* entry = results.next())
        all.push_back(pairsOf(*entry));
    return all;
}

TEST(LdifReader, LinesBecomeValuesAndEmptyLinesEndRecords) {
    const Pairs first = {{"cn", text("a")}, {"cn", text("b")}, {"dn", text("cn=a,o=x")}};
    const Pairs second = {{"dn", text("cn=c,o=x")}, {"sn", text("c")}};
    const std::string longName(3990, 'n');
    const std::string longValue(3999 - longName.size() - 2, 'v');
    const struct {
        const char* label;
        std::string input;
        std::vector<Pairs> entries;
    } cases[] = {
        {"two records", kSixLines, {first, second}},
        {"a trailing empty line adds an empty entry", kSixLines + "\n", {first, second, {}}},
        {"two empty lines make an empty entry",
         "cn: a\n\n\ncn: b\n",
         {{{"cn", text("a")}}, {}, {{"cn", text("b")}}}},
        {"a last line without newline is not stored", "dn: cn=a\ncn: a", {{{"dn", text("cn=a")}}}},
        {"empty input gives one empty entry", "", {{}}},
        {"leading white space skipped, trailing kept", "cn:    a b  \n", {{{"cn", text("a b  ")}}}},
        {"a colon alone stores the empty text", "cn:\n", {{{"cn", text("")}}}},
        {"white space only", "cn:\t\v\f\r \n", {{{"cn", text("")}}}},
        {"white space before a value", "cn:\t\v\f\r a\n", {{{"cn", text("a")}}}},
        {"a carriage return at the end stays", "cn: a\r\n", {{{"cn", text("a\r")}}}},
        {"a byte above 0x7F is no white space", "cn:\xA0x\n", {{{"cn", text("\xA0x")}}}},
        {"a double colon is no base64 mark",
         "userCertificate:: AAAA\n",
         {{{"userCertificate", text(": AAAA")}}}},
        {"later colons stay in the value",
         "labeledURI: ldap://h:389/\n",
         {{{"labeledURI", text("ldap://h:389/")}}}},
        {"a blank before the colon belongs to the name", "cn : a\n", {{{"cn ", text("a")}}}},
        {"a hash line with a colon is an attribute", "# note: x\n", {{{"# note", text("x")}}}},
        {"a version line is an attribute",
         "version: 1\ndn: cn=a\n",
         {{{"dn", text("cn=a")}, {"version", text("1")}}}},
        {"names differing in case join, line order kept",
         "CN: b\ncn: a\nCn: c\n",
         {{{"CN", text("b")}, {"cn", text("a")}, {"Cn", text("c")}}}},
        {"3999 characters fit the line buffer",
         longName + ": " + longValue + "\n",
         {{{longName, text(longValue)}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::istringstream in(c.input);
        LDAPSearchResults results(in);
        EXPECT_TRUE(in.eof());
        EXPECT_EQ(c.entries, readAll(results));
    }
}

TEST(LdifReader, MalformedInputStopsTheReading) {
    const struct {
        const char* label;
        std::string input;
    } cases[] = {
        {"a hash line without a colon", "# comment\n"},
        {"a line without a colon after good records", kSixLines + "\nbroken\n"},
        {"a blank line of CR LF text", "cn: a\r\n\r\ncn: b\r\n"},
        {"a line over 3999 characters", "cn: " + std::string(3996, 'v') + "\n"},
        {"an overlong last line without newline", "cn: " + std::string(5000, 'v')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXException>(
            [&] {
                std::istringstream in(c.input);
                LDAPSearchResults results(in);
            },
            0, "ldif file is malformed."));
        EXPECT_EQ(traced(kFromText), trace.plugin());
    }
    // A stream that failed to open, and one that throws on its state.
    EXPECT_THROW(
        {
            std::ifstream missing("/nonexistent/folder/file.ldif");
            LDAPSearchResults results(missing);
        },
        RYXException);
    std::istringstream throwing("cn: a\n\ncn: b\n");
    throwing.exceptions(std::ios_base::failbit | std::ios_base::eofbit);
    LDAPSearchResults results(throwing);
    EXPECT_EQ(2u, results.size());
}

TEST(LdifReader, CursorResetAndErase) {
    std::istringstream in("cn: a\n\ncn: b\n\ncn: c\n");
    LDAPSearchResults results(in);
    std::vector<LDAPEntry*> pass;
    while (LDAPEntry* entry = results.next())
        pass.push_back(entry);
    ASSERT_EQ(3u, pass.size());
    EXPECT_EQ(nullptr, results.next());
    results.reset();
    EXPECT_EQ(pass[0], results.next());
    EXPECT_EQ(pass[1], results.next());
    TraceCapture trace;
    results.erase();
    EXPECT_EQ(traced("erase"), trace.plugin());
    EXPECT_EQ(0u, results.size());
    EXPECT_EQ(nullptr, results.next());
    results.reset();
    EXPECT_EQ(nullptr, results.next());

    // A stream already at its end gives no entry at all.
    std::istringstream done("cn: a\n");
    done.ignore(std::numeric_limits<std::streamsize>::max());
    LDAPSearchResults none(done);
    EXPECT_EQ(0u, none.size());
    EXPECT_EQ(nullptr, none.next());
}

class ResultsWalk : public ::testing::Test {
  protected:
    ResultsWalk() : m_fake(FAKELDAP_FULL) {}
    void SetUp() override {
        m_client.reset(new LDAPClient("fakehost", FAKELDAP_FULL, nullptr, 389, 3));
        m_client->login("cn=admin,o=x", "secret");
    }
    void TearDown() override {
        m_client.reset();
        // Everything the walk and the client took from the library went back.
        EXPECT_EQ(0, m_fake.fake_live_allocations());
    }
    void addValue(const char* attr, const std::string& bytes) {
        m_fake.fake_add_value(attr, bytes.data(), bytes.size());
    }
    FakeLdap m_fake;
    std::unique_ptr<LDAPClient> m_client;
};

TEST_F(ResultsWalk, EntriesFollowTheChainAndGiveBackWhatTheyTook) {
    m_fake.fake_add_entry("cn=c,o=x");
    addValue("DN", "other");  // joins the DN, after it
    addValue("seeAlso", "");
    m_fake.fake_add_entry(nullptr);  // the library cannot give its DN
    addValue("cn", "a");
    m_fake.fake_add_attribute_without_values("member");
    addValue("sn", "b");
    m_fake.fake_add_entry("cn=b,o=x");
    ASSERT_EQ(3, m_client->search("o=x", 2, "(objectClass=*)", nullptr, 0));
    const int withMessage = m_fake.fake_live_allocations();
    LDAPSearchResults results(*m_client);
    EXPECT_EQ(nullptr, m_client->m_entry);
    EXPECT_EQ((std::vector<Pairs>{
                  {{"dn", text("cn=c,o=x")}, {"DN", text("other")}, {"seeAlso", text("")}},
                  {{"cn", text("a")}, {"sn", text("b")}},
                  {{"dn", text("cn=b,o=x")}}}),
              readAll(results));
    // Two DNs and five attribute names went back, one element per entry and
    // every value array; the message stays.
    EXPECT_EQ(7, m_fake.fake_call_count("ldap_memfree"));
    EXPECT_EQ(3, m_fake.fake_call_count("ldap_ber_free"));
    EXPECT_EQ(4, m_fake.fake_call_count("ldap_value_free_len"));
    EXPECT_EQ(withMessage, m_fake.fake_live_allocations());
}

// The count tells only whether the result is empty; the walk follows the chain.
TEST_F(ResultsWalk, CountTellsOnlyEmptiness) {
    for (const char* dn : {"cn=a,o=x", "cn=b,o=x", "cn=c,o=x"})
        m_fake.fake_add_entry(dn);
    m_fake.fake_set_errno_override(1, 81);
    const struct {
        int count;
        const char* failure;
    } cases[] = {{1, nullptr},
                 {7, nullptr},
                 {0, "LDAPSearchResults: zero entries found."},
                 {-1, "LDAPSearchResults: Can't contact LDAP server"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.count);
        m_client->search("o=x", 2, "(objectClass=*)", nullptr, 0);
        m_fake.fake_set_count_override(1, k.count);
        const int firstEntries = m_fake.fake_call_count("ldap_first_entry");
        if (k.failure == nullptr) {
            LDAPSearchResults results(*m_client);
            EXPECT_EQ(3u, results.size());
            continue;
        }
        EXPECT_TRUE(
            throwsError<RYXException>([&] { LDAPSearchResults results(*m_client); }, 0, k.failure));
        // Raised before the first entry is read.
        EXPECT_EQ(firstEntries, m_fake.fake_call_count("ldap_first_entry"));
    }
}

}  // namespace
