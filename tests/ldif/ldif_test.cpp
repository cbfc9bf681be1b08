// Result sets read from LDIF-like text: line grammar, record boundaries,
// failures and the cursor.
#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "entrypairs.h"
#include "expectthrows.h"
#include "ldapsearchresults.h"
#include "runprogram.h"
#include "ryxexception.h"
#include "tracecapture.h"

using namespace entrytest;
using namespace tracetest;

namespace {

TEST(LdifReader, LinesBecomeValuesAndEmptyLinesEndRecordsOrStopTheReading) {
    const std::map<std::string, std::string> vars = {{"N3990", std::string(3990, 'n')},
                                                     {"V3996", std::string(3996, 'v')},
                                                     {"V5000", std::string(5000, 'v')}};
    for (const auto& c : spawntest::readCases(RYX_LDIF_CASES "/records.tsv", vars)) {
        SCOPED_TRACE(c[0].substr(0, 40));
        std::istringstream in(c[0]);
        TraceCapture trace;
        if (c[1][0] == '!') {
            EXPECT_TRUE(throwsError<RYXException>([&] { LDAPSearchResults results(in); }, 0,
                                                  c[1].substr(1)));
            EXPECT_EQ(traced("LDAPSearchResults::LDAPSearchResults(istream & is)"), trace.plugin());
            continue;
        }
        LDAPSearchResults results(in);
        EXPECT_TRUE(in.eof());
        std::vector<Pairs> expected;
        for (size_t i = 1; i < c.size(); ++i)
            expected.push_back(pairsOfField(c[i]));
        std::vector<Pairs> all;
        while (LDAPEntry* entry = results.next())
            all.push_back(pairsOf(*entry));
        EXPECT_EQ(expected, all);
    }
    // A stream that failed to open never reaches its end.
    std::ifstream missing("/nonexistent/folder/file.ldif");
    EXPECT_THROW(LDAPSearchResults results(missing), RYXException);
}

// The cursor's walk, reset and erase: the LDIF fuzz target's smoke run.
TEST(LdifReader, EraseIsTracedAndLeavesNothing) {
    std::istringstream in("cn: a\n\ncn: b\n");
    LDAPSearchResults results(in);
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
