// The toolkit LDAP library under the plug-in, loaded the way the toolkit loads
// it: silent servers end the plug-in's calls within the bound (the retry
// included), retries release what they open, a lost server fails over to a
// replica, and the library's complaints reach the trace.
#include <gtest/gtest.h>
#include <malloc.h>
#include <valgrind/valgrind.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <thread>

#include "errorcodes.h"
#include "fakeserver.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"
#include "timebound.h"

using namespace managerhost;

namespace {

constexpr int kBound = 2;
const char* const kCaDN = "cn=Root CA,dc=example,dc=com";

using Mode = FakeServer::Mode;

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
    const struct {
        const char* name;
        Mode mode;
        int code;   // of the exception
        int waits;  // bounded waits: the search's retry makes two
    } rows[] = {
        {"bind never answered", Mode::Silent, ryxcode::kNoConnection, 1},
        {"search never answered", Mode::BindOnly, ryxcode::kSearchFailed, 2},
        {"search stalls mid-transfer", Mode::Stall, ryxcode::kSearchFailed, 2},
    };
    for (const auto& r : rows) {
        FakeServer server(r.mode);
        std::unique_ptr<RYXDIRManager> m = makeManager(at(server.port()));
        const Stopwatch watch;
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { caCertificates(*m); }, r.code));
        const double waited = watch.seconds();
        if (!RUNNING_ON_VALGRIND)
            expectWithin(waited, r.waits * kBound, r.name);
        EXPECT_GE(waited, r.waits * kBound - 0.1) << r.name;
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

TEST_F(PluginLib, LostServerFailsOverToTheReplica) {
    LabSlapd provider(LabSlapd::Schema::OctetString);
    provider.makeProvider();
    provider.start();
    LabSlapd consumer(LabSlapd::Schema::OctetString);
    consumer.replicateFrom(provider);
    consumer.start();
    const Bytes der = labpki::Authority::root(kCaDN).certificateDER();
    provider.addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                              {"cn", {"Root CA"}},
                              {"cACertificate", {bytes(der)}}});
    std::unique_ptr<RYXDIRManager> replica = makeManager(at(consumer.port(), 1));
    for (int i = 0; i < 100 && caCertificates(*replica).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(caCertificates(*replica), std::vector<Bytes>{der}) << consumer.logTail();

    Connection both = at(389);
    both.host = provider.hostPort() + " " + consumer.hostPort();
    std::unique_ptr<RYXDIRManager> m = makeManager(both);
    EXPECT_EQ(caCertificates(*m), std::vector<Bytes>{der});
    provider.stop();
    TraceCapture trace;
    EXPECT_EQ(caCertificates(*m), std::vector<Bytes>{der});
    EXPECT_EQ(1u, trace.entries("LDAPClient::login(cn=admin,dc=example,dc=com)"));
}

}  // namespace
