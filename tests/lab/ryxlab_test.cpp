// The ryxlab command run as a user runs it: a demo directory that outlives the
// command, holds the sample PKI as its env file describes it, and goes away on
// stop (ryxdir's verdicts on that PKI are the installation test's); refusals
// with their exit statuses; an interrupted start leaves nothing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "labslapd.h"
#include "runprogram.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

class RyxlabTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/ryxlabtest.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        m_top = templ;
    }
    void TearDown() override {
        // Whatever a failed test left running goes.
        for (const auto& entry : fs::directory_iterator(m_top))
            if (entry.is_directory())
                LabSlapd::stopDetached(entry.path().string() + "/slapd");
        fs::remove_all(m_top);
    }

    spawntest::Result run(std::vector<std::string> args) { return spawntest::run(args, m_top); }
    spawntest::Result ryxlab(std::vector<std::string> args) {
        args.insert(args.begin(), RYXLAB_PATH);
        return run(args);
    }

    std::string m_top;
};

// The values of "export NAME='value'" lines.
std::map<std::string, std::string> readEnv(const std::string& path) {
    std::map<std::string, std::string> vars;
    std::istringstream in(spawntest::readFile(path));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find("='");
        if (line.rfind("export ", 0) == 0 && eq != std::string::npos && line.back() == '\'')
            vars[line.substr(7, eq - 7)] = line.substr(eq + 2, line.size() - eq - 3);
    }
    return vars;
}

TEST_F(RyxlabTest, StartsADirectoryThatOutlivesTheCommandAndStopsIt) {
    const std::string dir = m_top + "/lab";
    spawntest::Result started = ryxlab({"start", dir});
    ASSERT_EQ(started.status, 0) << started.err;
    EXPECT_EQ(started.err, "");
    EXPECT_THAT(started.out, HasSubstr("octet-string"));
    auto env = readEnv(dir + "/env");
    ASSERT_FALSE(env["RYX_LAB_PORT"].empty());
    EXPECT_EQ(env["RYX_LAB_OPTS"], "-H " + env["RYX_LAB_HOST"] + " -p " + env["RYX_LAB_PORT"]);
    EXPECT_THAT(started.out, HasSubstr("export RYX_LAB_URL='" + env["RYX_LAB_URL"] + "'"));
    EXPECT_EQ(fs::status(dir + "/admin.pw").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);

    // The command has exited; its server answers, with the issuing CA's
    // certificate as "{ASN}" hex text, and the users' certificates name the
    // revocation list by a URL with the server's host and port.
    const pid_t pid = LabSlapd::detachedPid(dir + "/slapd");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ryxlab({"status", dir}).status, 0);
    EXPECT_EQ(ryxlab({"start", dir}).status, 3) << "a second start on the same folder";
    EXPECT_THAT(run({"ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H", env["RYX_LAB_URL"],
                     "-b", env["RYX_LAB_CA_DN"], "-s", "base", "cACertificate"})
                    .out,
                HasSubstr("\ncACertificate: {ASN}30"));
    EXPECT_THAT(run({"openssl", "x509", "-noout", "-ext", "crlDistributionPoints", "-in",
                     dir + "/alice.pem"})
                    .out,
                HasSubstr("URI:" + env["RYX_LAB_CRL_URL"] + "\n"));
    EXPECT_EQ(env["RYX_LAB_CRL_URL"].rfind(env["RYX_LAB_URL"] + "/", 0), 0u);

    EXPECT_EQ(ryxlab({"stop", dir}).status, 0);
    EXPECT_FALSE(ryxproc::alive(pid));
    EXPECT_FALSE(fs::exists(dir)) << "stop removes the folder that start created";
}

TEST_F(RyxlabTest, RefusesWithOneLineAndAStatusLeavingNothing) {
    const std::string fresh = m_top + "/fresh", full = m_top + "/full", file = m_top + "/file";
    fs::create_directory(full);
    std::ofstream(full + "/mine") << "x";
    std::ofstream(file) << "x";
    LabSlapd busy;  // holds a port
    busy.start();
    const auto rows = spawntest::readCases(
        RYX_LAB_CASES "/refusals.tsv",
        {{"FRESH", fresh}, {"FULL", full}, {"FILE", file}, {"BUSY", std::to_string(busy.port())}});
    for (auto args : rows) {
        const int status = std::stoi(args[0]);
        args[0] = RYXLAB_PATH;
        spawntest::Result r = run(args);
        const std::string label = ::testing::PrintToString(args);
        EXPECT_EQ(r.status, status) << label << r.err;
        EXPECT_EQ(r.err.rfind("ryxlab: ", 0), 0u) << label << r.err;
        if (status != 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << label << "one line: " << r.err;
        }
        EXPECT_EQ(r.out, "") << label;
        EXPECT_FALSE(fs::exists(fresh)) << label;
        EXPECT_TRUE(fs::exists(full + "/mine")) << label;
    }
}

TEST_F(RyxlabTest, InterruptedStartLeavesNothingRunning) {
    // Signals at several points of a start (bounded: four starts).
    for (int delayMs : {0, 50, 150, 300}) {
        const std::string dir = m_top + "/int" + std::to_string(delayMs);
        const pid_t pid = spawntest::start({RYXLAB_PATH, "start", dir}, m_top);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGINT);
        spawntest::Result r = spawntest::finish(pid, m_top);
        if (r.status == 0) {  // finished before the signal
            EXPECT_EQ(ryxlab({"stop", dir}).status, 0);
        } else {
            EXPECT_EQ(r.status, 128 + SIGINT) << delayMs << " ms: " << r.err;
        }
        EXPECT_LT(LabSlapd::detachedPid(dir + "/slapd"), 0) << delayMs << " ms";
        EXPECT_FALSE(fs::exists(dir)) << delayMs << " ms";
    }
}

}  // namespace
