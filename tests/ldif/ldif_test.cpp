// Result sets read from LDIF-like text: line grammar, record boundaries,
// failures and the cursor.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "entrypairs.h"
#include "expectthrows.h"
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
    const std::string longName(3990, 'n'), longValue(7, 'v');  // 3999 characters fit
    const std::pair<std::string, std::vector<Pairs>> cases[] = {
        {kSixLines, {first, second}},
        {kSixLines + "\n", {first, second, {}}},  // one more, empty entry
        {"cn: a\n\n\ncn: b\n", {{{"cn", text("a")}}, {}, {{"cn", text("b")}}}},
        {"dn: cn=a\ncn: a", {{{"dn", text("cn=a")}}}},  // a last line without newline is lost
        {"", {{}}},
        {"cn:    a b  \n", {{{"cn", text("a b  ")}}}},
        {"cn:\n", {{{"cn", text("")}}}},
        {"cn:\t\v\f\r \n", {{{"cn", text("")}}}},
        {"cn:\t\v\f\r a\r\n", {{{"cn", text("a\r")}}}},
        {"cn:\xA0x\n", {{{"cn", text("\xA0x")}}}},  // no white space above 0x7F
        {"userCertificate:: AAAA\n", {{{"userCertificate", text(": AAAA")}}}},
        {"labeledURI: ldap://h:389/\n", {{{"labeledURI", text("ldap://h:389/")}}}},
        {"cn : a\n", {{{"cn ", text("a")}}}},
        {"# note: x\n", {{{"# note", text("x")}}}},
        {longName + ": " + longValue + "\n", {{{longName, text(longValue)}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        std::istringstream in(c.first);
        LDAPSearchResults results(in);
        EXPECT_TRUE(in.eof());
        EXPECT_EQ(c.second, readAll(results));
    }
}

TEST(LdifReader, MalformedInputStopsTheReading) {
    // No colon (a comment, a blank line of CR LF text) and overlong lines.
    const std::string cases[] = {"# comment\n", kSixLines + "\nbroken\n", "cn: a\r\n\r\ncn: b\r\n",
                                 "cn: " + std::string(3996, 'v') + "\n",
                                 "cn: " + std::string(5000, 'v')};
    for (const std::string& input : cases) {
        SCOPED_TRACE(input.substr(0, 40));
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXException>(
            [&] {
                std::istringstream in(input);
                LDAPSearchResults results(in);
            },
            0, "ldif file is malformed."));
        EXPECT_EQ(traced(kFromText), trace.plugin());
    }
    // A stream that failed to open never reaches its end.
    std::ifstream missing("/nonexistent/folder/file.ldif");
    EXPECT_THROW(LDAPSearchResults results(missing), RYXException);
}

TEST(LdifReader, CursorResetAndErase) {
    std::istringstream in("cn: a\n\ncn: b\n");
    LDAPSearchResults results(in);
    LDAPEntry* first = results.next();
    ASSERT_NE(nullptr, results.next());
    EXPECT_EQ(nullptr, results.next());
    results.reset();
    EXPECT_EQ(first, results.next());
    TraceCapture trace;
    results.erase();
    EXPECT_EQ(traced("erase"), trace.plugin());
    EXPECT_EQ(0u, results.size());
    results.reset();
    EXPECT_EQ(nullptr, results.next());

    // A stream already at its end gives no entry at all.
    std::istringstream done("cn: a\n");
    done.ignore(std::numeric_limits<std::streamsize>::max());
    LDAPSearchResults none(done);
    EXPECT_EQ(0u, none.size());
    EXPECT_EQ(nullptr, none.next());
}

}  // namespace
