// The toolkit LDAP library under the plug-in, loaded as the toolkit loads it:
// bounded waits (the retry included), retries that release what they open,
// failover to the next host, and complaints that reach the trace.
#include <gtest/gtest.h>
#include <malloc.h>
#include <signal.h>
#include <valgrind/valgrind.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>

#include "fakeserver.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"
#include "runprogram.h"
#include "timebound.h"

using namespace managerhost;

namespace {

constexpr int kBound = 2;
const char* const kCaDN = "cn=Root CA,dc=example,dc=com";

using Mode = FakeServer::Mode;

// Stops a process with SIGSTOP until the owner lets go.
std::shared_ptr<void> hung(pid_t pid) {
    ::kill(pid, SIGSTOP);
    return std::shared_ptr<void>(nullptr, [pid](void*) { ::kill(pid, SIGCONT); });
}

long openDescriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

std::vector<Bytes> caCertificates(RYXDIRManager& m) {
    std::unique_ptr<RYXASNCertificateContainer> c(m.getCACertificates(RYXASNx500Name(kCaDN)));
    return contents(c.get());
}

class PluginLib : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("RYX_LDAP_TIMEOUT", std::to_string(kBound).c_str(), 1); }
    void TearDown() override { ::unsetenv("RYX_LDAP_TIMEOUT"); }
    static Connection at(int port, int errorMode = 0) {
        Connection c;
        c.port = port;
        c.userDN = "cn=admin,dc=example,dc=com";
        c.password = "secret";
        c.errorMode = errorMode;
        return c;
    }

    Plugin m_plugin;
};

TEST_F(PluginLib, SilentServersEndWithinTheBound) {
    const std::map<std::string, Mode> modes = {
        {"silent", Mode::Silent}, {"bind-only", Mode::BindOnly}, {"stall", Mode::Stall}};
    for (const auto& r : spawntest::readCases(LDAPLIB_CASES "/silent.tsv")) {
        FakeServer server(modes.at(r.at(1)));
        std::unique_ptr<RYXDIRManager> m = makeManager(at(server.port()));
        const Stopwatch watch;
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { caCertificates(*m); }, std::stoi(r[2])));
        const double waited = watch.seconds(), bound = std::stoi(r.at(3)) * kBound;
        if (!RUNNING_ON_VALGRIND)
            expectWithin(waited, bound, r[0]);
        EXPECT_GE(waited, bound - 0.1) << r[0];
    }
}

TEST_F(PluginLib, RetriesReleaseWhatTheyOpen) {
    // Each retrieval: the search finds the server gone, the plug-in forgets the
    // connection without an unbind, logs in again, and loses the server again.
    FakeServer server(Mode::Drop);
    std::unique_ptr<RYXDIRManager> m = makeManager(at(server.port(), 2));
    const auto retrievals = [&](int n) {
        for (int i = 0; i < n; ++i)
            EXPECT_TRUE(caCertificates(*m).empty());
    };
    retrievals(100);  // first-use allocations, and the 64 closed handles kept filled
    const long fds = openDescriptors();
    const size_t heap = mallinfo2().uordblks;
    const int retries = RUNNING_ON_VALGRIND ? 100 : 1000;
    retrievals(retries);
    const long heapGrowth = static_cast<long>(mallinfo2().uordblks) - static_cast<long>(heap);
    EXPECT_EQ(openDescriptors(), fds);
    // One connection a retrieval: the one the retry makes. (The plug-in keeps the
    // retry's lost connection, which answers the next search at once.)
    EXPECT_EQ(server.connections(), 1 + 100 + retries);
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(heapGrowth, 1024);
#endif
    std::cout << "  after " << retries << " retries: descriptors " << fds << " -> "
              << openDescriptors() << ", heap in use " << heap << " -> " << heap + heapGrowth
              << " bytes\n";
}

TEST_F(PluginLib, SettingComplaintsAndReasonsReachTheTrace) {
    ::setenv("RYX_LDAP_TIMEOUT", "2x", 1);
    TraceCapture trace;
    std::unique_ptr<RYXDIRManager> m = makeManager(at(1, 2));
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI("ldap://127.0.0.1:1/cn=x%zz"));
    EXPECT_TRUE(crls->empty());
    const std::string reason =
        "Bad parameter to an ldap routine (bad URL: \"%zz\" is not '%' and two hex digits)";
    const std::vector<Record> expected = {
        {0x200, RYX_TRACE_LEVEL_ERROR,
         "RYX_LDAP_TIMEOUT=\"2x\" is not a number of seconds; using 60"},
        {0x200, RYX_TRACE_LEVEL_ERROR, reason},
        errorRec("Error(89) from ldap_url_search_st().  " + reason)};
    EXPECT_EQ(trace.atLevel(RYX_TRACE_LEVEL_ERROR), expected);
}

// A first host that hangs or stopped (the cases of failover.tsv) is passed over
// for the second within the call; lookups across the outage all find their
// certificate.
TEST_F(PluginLib, FailedFirstHostIsAnsweredByTheSecond) {
    const Bytes der = labpki::Authority::root(kCaDN).certificateDER();
    const auto loaded = [&](LabSlapd& d) {
        d.start();
        d.addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"Root CA"}},
                           {"cACertificate", {bytes(der)}}});
    };
    LabSlapd second(LabSlapd::Schema::OctetString);
    loaded(second);
    for (const auto& r : spawntest::readCases(LDAPLIB_CASES "/failover.tsv")) {
        const std::string &name = r.at(0), &hang = r.at(1);
        // A new first host each time: the library remembers the one that failed.
        LabSlapd first(LabSlapd::Schema::OctetString);
        loaded(first);
        FullListener full;
        Connection both = at(389);
        both.host =
            (hang == "connect" ? full.hostPort() : first.hostPort()) + " " + second.hostPort();
        std::shared_ptr<void> stopped;
        if (hang == "bind")
            stopped = hung(first.pid());
        std::unique_ptr<RYXDIRManager> m = makeManager(both);
        if (hang == "search" || hang == "stopped") {
            ASSERT_EQ(caCertificates(*m), std::vector<Bytes>{der});
            hang == "stopped" ? first.stop() : (void)(stopped = hung(first.pid()));
        }
        TraceCapture trace;
        const Stopwatch watch;
        for (int i = 0; i < (hang == "batch" ? 10 : 1); ++i) {
            if (i == 3)
                stopped = hung(first.pid());
            EXPECT_EQ(caCertificates(*m), std::vector<Bytes>{der}) << name << ", lookup " << i;
        }
        if (!RUNNING_ON_VALGRIND)
            expectWithin(watch.seconds(), kBound + 1, name);
        // Once logged in, the library moved on within the search (bound again
        // with the same credentials): the plug-in did not need its retry.
        if (hang == "search" || hang == "stopped") {
            EXPECT_EQ(0u, trace.entries("LDAPClient::login(cn=admin,dc=example,dc=com)")) << name;
        }
    }
}

}  // namespace
