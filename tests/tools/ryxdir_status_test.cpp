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
    struct Case {
        const char* cn;
        const char* kindAndNumber;  // as the table starts the line after the state
        const char* state;
        const char* why;
    };
    const Case cases[] = {
        {"Fresh CA", "CRL   1", "OK", ""},
        {"Fresh CA", "ARL   1", "OK", ""},
        {"Soon CA", "CRL   1", "WARNING", "next update in 2d"},
        {"Close CA", "CRL   1", "CRITICAL", "next update in 12h"},
        {"Late CA", "CRL   1", "CRITICAL", "next update passed 1h"},
        {"Forged CA", "CRL   1", "CRITICAL", "signature does not verify"},
        {"Twice CA", "CRL   4", "CRITICAL", "older than list number 5 beside it"},
        {"Twice CA", "CRL   5", "OK", ""},
    };
    for (const Case& c : cases) {
        const std::string kind = std::string(c.kindAndNumber).substr(0, 3);
        const std::string number = std::string(c.kindAndNumber).substr(6);
        std::string line;
        std::istringstream in(r.out);
        for (std::string l; std::getline(in, l);) {
            if (l.find("cn=" + std::string(c.cn) + kSuffix) != std::string::npos &&
                l.find(kind) != std::string::npos &&
                l.find("  " + number + "  ") != std::string::npos) {
                line = l;
            }
        }
        EXPECT_THAT(line, StartsWith(c.state)) << c.cn << " " << c.kindAndNumber << "\n" << r.out;
        EXPECT_THAT(line, HasSubstr(c.why)) << c.cn;
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

TEST_F(RyxdirStatusTest, PluginStatusesAndThresholds) {
    struct Case {
        std::string base;
        std::vector<std::string> args;
        int status;
        std::string line;  // the start of the first line
    };
    const std::string soon = "cn=Soon CA" + kSuffix;
    const Case cases[] = {
        {kMany, {}, 0, "RYXDIR CRL OK - 120 lists, next update in 7d at the soonest"},
        {soon, {}, 1, "RYXDIR CRL WARNING - 0 critical, 1 warning of 1 lists: " + soon},
        {soon, {"--warn", "1d", "--crit", "12h"}, 0, "RYXDIR CRL OK - 1 lists"},
        {soon, {"--crit", "3d"}, 2, "RYXDIR CRL CRITICAL - 1 critical, 0 warning"},
        {"dc=example,dc=com", {}, 2, "RYXDIR CRL CRITICAL - 4 critical, 1 warning of 128 lists"},
        {"cn=Nowhere" + kSuffix, {}, 3, "RYXDIR CRL UNKNOWN - paged search under"},
        {"cn=Bulk CA" + kSuffix, {}, 3, "RYXDIR CRL UNKNOWN - no revocation list under"},
        {soon, {"--warn", "3x"}, 3, "RYXDIR CRL UNKNOWN - bad duration \"3x\" for --warn"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"--plugin"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Result r = status(c.base, args);
        EXPECT_EQ(r.status, c.status) << c.base << "\n" << r.out << r.err;
        EXPECT_THAT(r.out, StartsWith(c.line)) << c.base;
        if (c.status < 3) {
            EXPECT_THAT(r.out.substr(0, r.out.find('\n')), HasSubstr(" | lists="));
        }
    }
}

TEST_F(RyxdirStatusTest, JsonNamesEveryPart) {
    struct Case {
        std::string base;
        int status;
        std::vector<const char*> parts;
    };
    const Case cases[] = {
        {"cn=Twice CA" + kSuffix,
         6,
         {"\"command\": \"status\"", "\"state\": \"CRITICAL\"", "\"kind\": \"CRL\"",
          "\"number\": \"5\"", "\"entries\": 2", "\"signature\": \"good\"",
          "\"secondsLeft\": ", "\"issuer\": \"CN=Twice CA,DC=example,DC=com\""}},
        {"cn=Fresh CA" + kSuffix, 0, {"\"kind\": \"ARL\"", "\"entries\": 0", "\"status\": 0"}},
    };
    for (const Case& c : cases) {
        const Result r = status(c.base, {"-f", "json"});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(spawntest::parsesAsJson(r.out, s_lab->dir)) << r.out;
        for (const char* part : c.parts) {
            EXPECT_THAT(r.out, HasSubstr(part)) << c.base;
        }
    }
}

}  // namespace
