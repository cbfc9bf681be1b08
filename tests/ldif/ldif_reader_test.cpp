// The LDIF-like reader: line grammar, record boundaries and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ldapsearchresults.h"
#include "ldiftestutil.h"
#include "ryxexception.h"
#include "ryxtrace.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kMalformed = "ldif file is malformed.";

// A text value as the reader stores it: the text and its NUL.
std::string t(const std::string& text) {
    return text + std::string(1, '\0');
}

struct LdifCase {
    const char* label;
    std::string input;
    bool malformed;
    // Entries in list order; each entry's pairs in multimap order.
    std::vector<Pairs> entries;
};

// gtest names a case by its label instead of dumping its bytes.
void PrintTo(const LdifCase& c, std::ostream* os) {
    *os << c.label;
}

std::vector<LdifCase> ldifCases() {
    const std::string sixLines = "dn: cn=a,o=x\ncn: a\ncn: b\n\ndn: cn=c,o=x\nsn: c\n";
    const Pairs first = {{"cn", t("a")}, {"cn", t("b")}, {"dn", t("cn=a,o=x")}};
    const Pairs second = {{"dn", t("cn=c,o=x")}, {"sn", t("c")}};
    const std::string longName(3990, 'n');
    return {
        {"two records", sixLines, false, {first, second}},
        {"trailing empty line adds an empty entry", sixLines + "\n", false, {first, second, {}}},
        {"two empty lines make an empty entry between records",
         "cn: a\n\n\ncn: b\n",
         false,
         {{{"cn", t("a")}}, {}, {{"cn", t("b")}}}},
        {"last line without newline is not stored",
         "dn: cn=a\ncn: a",
         false,
         {{{"dn", t("cn=a")}}}},
        {"empty input gives one empty entry", "", false, {{}}},
        {"leading white space skipped, trailing kept",
         "cn:    a b  \n",
         false,
         {{{"cn", t("a b  ")}}}},
        {"colon alone stores the empty text", "cn:\n", false, {{{"cn", t("")}}}},
        {"white space only value", "cn: \t \n", false, {{{"cn", t("")}}}},
        {"tab, vertical tab, form feed and carriage return are skipped",
         "cn:\t\v\f\r a\n",
         false,
         {{{"cn", t("a")}}}},
        {"carriage return at the end stays", "cn: a\r\n", false, {{{"cn", t("a\r")}}}},
        {"byte above 0x7F is not white space", "cn:\xA0x\n", false, {{{"cn", t("\xA0x")}}}},
        {"double colon is no base64 mark",
         "userCertificate:: AAAA\n",
         false,
         {{{"userCertificate", t(": AAAA")}}}},
        {"value keeps later colons",
         "labeledURI: ldap://h:389/\n",
         false,
         {{{"labeledURI", t("ldap://h:389/")}}}},
        {"blank before the colon belongs to the name", "cn : a\n", false, {{{"cn ", t("a")}}}},
        {"hash line with a colon is an attribute", "# note: x\n", false, {{{"# note", t("x")}}}},
        {"version line is an attribute",
         "version: 1\ndn: cn=a\n",
         false,
         {{{"dn", t("cn=a")}, {"version", t("1")}}}},
        {"names differing in case join one attribute, line order kept",
         "CN: b\ncn: a\nCn: c\n",
         false,
         {{{"CN", t("b")}, {"cn", t("a")}, {"Cn", t("c")}}}},
        {"3999 characters fit the line buffer",
         longName + ": " + std::string(3999 - longName.size() - 2, 'v') + "\n",
         false,
         {{{longName, t(std::string(3999 - longName.size() - 2, 'v'))}}}},
        {"hash line without a colon", "# comment\n", true, {}},
        {"line without a colon after good records", sixLines + "\nbroken\n", true, {}},
        {"line of blanks only", "cn: a\n   \n", true, {}},
        {"carriage return alone (CR LF blank line)", "cn: a\r\n\r\ncn: b\r\n", true, {}},
        {"continuation line", "description: a\n b\n", true, {}},
        {"line over 3999 characters", "cn: " + std::string(3996, 'v') + "\n", true, {}},
        {"overlong last line without newline", "cn: " + std::string(5000, 'v'), true, {}},
    };
}

class LdifReaderTest : public ::testing::TestWithParam<LdifCase> {};

TEST_P(LdifReaderTest, ReadsAsExpected) {
    const LdifCase& c = GetParam();
    std::istringstream in(c.input);
    if (c.malformed) {
        try {
            LDAPSearchResults results(in);
            FAIL() << "no exception";
        } catch (const RYXException& e) {
            EXPECT_EQ(0, e.getError());
            EXPECT_STREQ(kMalformed, e.getMessage().c_str());
            EXPECT_STREQ("ldapsearch.cpp", e.getFile());
        }
        return;
    }
    LDAPSearchResults results(in);
    EXPECT_TRUE(in.eof());
    std::vector<Pairs> got;
    while (LDAPEntry* entry = results.next()) {
        got.push_back(pairsOf(*entry));
    }
    EXPECT_EQ(c.entries, got);
}

INSTANTIATE_TEST_SUITE_P(Inputs, LdifReaderTest, ::testing::ValuesIn(ldifCases()),
                         [](const ::testing::TestParamInfo<LdifCase>& info) {
                             std::string name = info.param.label;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

TEST(LdifReaderStreams, StreamAlreadyAtEndGivesNoEntry) {
    std::istringstream in("cn: a\n");
    in.ignore(std::numeric_limits<std::streamsize>::max());
    ASSERT_TRUE(in.eof());
    LDAPSearchResults results(in);
    EXPECT_EQ(0u, results.size());
    EXPECT_EQ(nullptr, results.next());

    TraceCapture capture;
    results.erase();
    EXPECT_EQ(0u, results.size());
    EXPECT_EQ(nullptr, results.next());
    EXPECT_THAT(capture.names(), ElementsAre("> erase", "< erase"));
}

TEST(LdifReaderStreams, StreamThatFailedToOpenIsMalformed) {
    std::ifstream in("/nonexistent/folder/file.ldif");
    ASSERT_FALSE(in.is_open());
    try {
        LDAPSearchResults results(in);
        FAIL() << "no exception";
    } catch (const RYXException& e) {
        EXPECT_STREQ(kMalformed, e.getMessage().c_str());
    }
}

TEST(LdifReaderStreams, StreamThatThrowsOnItsStateReadsToTheEnd) {
    std::istringstream in("cn: a\n\ncn: b\n");
    in.exceptions(std::ios_base::failbit | std::ios_base::eofbit);
    LDAPSearchResults results(in);
    ASSERT_EQ(2u, results.size());

    std::istringstream bad("cn: " + std::string(4100, 'v') + "\n");
    bad.exceptions(std::ios_base::failbit);
    EXPECT_THROW(LDAPSearchResults broken(bad), RYXException);
}

// The set reads like one built from a search, and the constructor traces.
TEST(LdifReaderStreams, CursorResetEraseAndTraces) {
    RYXTrace* trace = RYXTrace::s_defaultTracePtr;
    ASSERT_NE(nullptr, trace);
    TraceCapture capture;
    std::istringstream in("cn: a\n\ncn: b\n\ncn: c\n");
    LDAPSearchResults results(in);
    ASSERT_EQ(3u, results.size());
    LDAPEntry* a = results.next();
    LDAPEntry* b = results.next();
    LDAPEntry* c = results.next();
    ASSERT_NE(nullptr, c);
    EXPECT_EQ(nullptr, results.next());
    EXPECT_EQ(nullptr, results.next());
    results.reset();
    EXPECT_EQ(a, results.next());
    EXPECT_EQ(b, results.next());
    EXPECT_STREQ("c", reinterpret_cast<const char*>(c->getAttributeValue("cn")));
    results.erase();
    EXPECT_EQ(0u, results.size());
    EXPECT_EQ(nullptr, results.next());
    results.reset();
    EXPECT_EQ(nullptr, results.next());

    EXPECT_THAT(capture.names(), ElementsAre("> LDAPSearchResults::LDAPSearchResults(istream & is)",
                                             "< LDAPSearchResults::LDAPSearchResults(istream & is)",
                                             "> erase", "< erase"));
}

TEST(LdifReaderStreams, MalformedInputStillWritesTheExitRecord) {
    TraceCapture capture;
    std::istringstream in("cn: a\nbroken\n");
    EXPECT_THROW(LDAPSearchResults results(in), RYXException);
    EXPECT_THAT(capture.names(),
                ElementsAre("> LDAPSearchResults::LDAPSearchResults(istream & is)",
                            "< LDAPSearchResults::LDAPSearchResults(istream & is)"));
}

}  // namespace
