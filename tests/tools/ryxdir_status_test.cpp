// ryxdir status against a slapd whose size limit (50) is smaller than the
// subtree it is asked about (120 entries with a list each), holding lists of
// every state: fresh, close to their next update, past it, badly signed, and
// older than a list beside them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "ryxdirlab.h"

namespace {

using labpki::Authority;
using ryxdirlab::kSuffix;
using spawntest::Result;
using ::testing::HasSubstr;
using ::testing::StartsWith;

const std::string kMany = "ou=Many" + kSuffix;
const int kManyEntries = 120;

labpki::CrlOptions listOf(long nextUpdateFromNow, std::uint64_t number = 1) {
    labpki::CrlOptions o;
    o.thisUpdate = labpki::fromNow(-3600);
    o.nextUpdate = labpki::fromNow(nextUpdateFromNow);
    o.crlNumber = number;
    o.revokedCount = 2;
    return o;
}

class RyxdirStatusTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_lab = std::make_unique<ryxdirlab::Lab>();
        s_lab->slapd->setSizeLimit(50);
        s_lab->start("status");
        const long day = 86400;
        const auto ca = [](const char* cn) {
            return Authority::root("cn=" + std::string(cn) + kSuffix);
        };
        const Authority fresh = ca("Fresh CA"), soon = ca("Soon CA"), close = ca("Close CA"),
                        late = ca("Late CA"), forged = ca("Forged CA"), twice = ca("Twice CA"),
                        bulk = ca("Bulk CA");
        labpki::CrlOptions empty = listOf(7 * day);
        empty.revokedCount = 0;
        const auto add = [](const char* cn, const Authority& a, std::vector<labpki::Bytes> crls,
                            std::vector<labpki::Bytes> arls = {}) {
            s_lab->addCA(cn, {a.certificateDER()}, crls, arls);
        };
        add("Fresh CA", fresh, {fresh.crl(listOf(7 * day))}, {fresh.arl(empty)});
        add("Soon CA", soon, {soon.crl(listOf(2 * day))});
        add("Close CA", close, {close.crl(listOf(day / 2))});
        add("Late CA", late, {late.crl(listOf(-3600))});
        // Same name, another key: the directory's certificate does not verify it.
        add("Forged CA", forged, {ca("Forged CA").crl(listOf(7 * day))});
        add("Twice CA", twice, {twice.crl(listOf(7 * day, 4)), twice.crl(listOf(7 * day, 5))});
        add("Bulk CA", bulk, {});
        s_lab->slapd->addEntry(kMany, {{"objectClass", {"organizationalUnit"}}, {"ou", {"Many"}}});
        const std::string list = ryxdirlab::text(bulk.crl(listOf(7 * day)));
        for (int i = 0; i < kManyEntries; ++i) {
            const std::string cn = "Point " + std::to_string(i);
            s_lab->slapd->addEntry("cn=" + cn + "," + kMany,
                                   {{"objectClass", {"cRLDistributionPoint"}},
                                    {"cn", {cn}},
                                    {"certificateRevocationList;binary", {list}}});
        }
    }
    static void TearDownTestSuite() { s_lab.reset(); }

    Result status(const std::string& base, const std::vector<std::string>& args = {}) {
        std::vector<std::string> all{"status", "--at", std::to_string(labpki::referenceTime())};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(base);
        return s_lab->run(all);
    }

    static inline std::unique_ptr<ryxdirlab::Lab> s_lab;
};

TEST_F(RyxdirStatusTest, JudgesEachList) {
    const Result r = status("dc=example,dc=com");
    EXPECT_EQ(r.status, 6) << r.err;
    for (const auto& c : spawntest::readCases(ryxdirlab::casesFile("status-lists.tsv"))) {
        std::string line;
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) {
            if (l.find("cn=" + c[0] + kSuffix) != std::string::npos &&
                l.find(c[1]) != std::string::npos &&
                l.find("  " + c[2] + "  ") != std::string::npos) {
                line = l;
            }
        }
        EXPECT_THAT(line, StartsWith(c[3])) << c[0] << " " << c[1] << "\n" << r.out;
        EXPECT_THAT(line, HasSubstr(c[4])) << c[0];
    }
    EXPECT_THAT(r.out, HasSubstr(std::to_string(kManyEntries + 8) + " lists: " +
                                 std::to_string(kManyEntries + 3) + " OK, 1 WARNING, 4 CRITICAL"));
}

// 120 entries under a size limit of 50 (that a search without pages hits),
// in pages smaller and larger than it.
TEST_F(RyxdirStatusTest, PagesPastTheSizeLimit) {
    const Result plain = spawntest::run(
        {"ldapsearch", "-x", "-LLL", "-H", s_lab->slapd->url(), "-b", kMany, "cn"}, s_lab->dir);
    EXPECT_EQ(plain.status, 4) << "size limit exceeded\n" << plain.err;
    for (const char* pageSize : {"7", "50", "500"}) {
        const Result r = status(kMany, {"--page-size", pageSize});
        EXPECT_EQ(r.status, 0) << pageSize << ": " << r.err;
        EXPECT_THAT(r.out, HasSubstr("120 lists: 120 OK, 0 WARNING, 0 CRITICAL")) << pageSize;
    }
}

// The plug-in's line, and the JSON document, of several subtrees.
TEST_F(RyxdirStatusTest, PluginLinesAndJson) {
    for (const auto& c : spawntest::readCases(ryxdirlab::casesFile("status-plugin.tsv"))) {
        const bool json = c[0] == "json";
        const int expected = std::stoi(c[json ? 1 : 0]);
        const std::string base = c[2].empty() ? kSuffix.substr(1) : c[2] + kSuffix;
        std::vector<std::string> args{json ? "-f" : "--plugin"};
        if (json) {
            args.push_back("json");
        } else {
            args.insert(args.end(), c.begin() + 3, c.end());
        }
        const Result r = status(base, args);
        EXPECT_EQ(r.status, expected) << base << "\n" << r.out << r.err;
        if (json) {
            EXPECT_TRUE(spawntest::parsesAsJson(r.out, s_lab->dir)) << r.out;
            for (auto part = c.begin() + 3; part != c.end(); ++part) {
                EXPECT_THAT(r.out, HasSubstr(*part)) << base;
            }
        } else {
            EXPECT_THAT(r.out, StartsWith(c[1])) << base;
        }
        if (!json && expected < 3) {
            EXPECT_THAT(r.out.substr(0, r.out.find('\n')), HasSubstr(" | lists="));
        }
    }
}

}  // namespace
