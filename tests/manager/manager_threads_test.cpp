// Managers on their own threads against one slapd while the trace is switched,
// and one revocation list read from many threads (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kCaDN = "cn=Thread CA,dc=example,dc=com";
const int kThreads = 8;
const int kRetrievals = 100;

TEST(ManagerThreads, IndependentManagersRetrieveAtOnce) {
    LabSlapd slapd(LabSlapd::Schema::OctetString);
    slapd.start();
    labpki::Authority ca = labpki::Authority::root(kCaDN);
    addCa(slapd, kCaDN,
          {{"cACertificate", {bytes(ca.certificateDER())}},
           {"certificateRevocationList", {bytes(ca.crl())}}});
    Plugin plugin;
    const Connection c = rootOf(slapd);
    RYXTrace* trace = RYXTrace::s_defaultTracePtr;
    TraceCapture capture;  // restores the trace's settings at the end
    std::atomic<int> running{kThreads};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&c, &running, &failures] {
            try {
                std::unique_ptr<RYXDIRManager> manager = makeManager(c);
                for (int i = 0; i < kRetrievals; ++i) {
                    failures += fetch(*manager, i % 2 == 0 ? 'c' : 'r', kCaDN).size() == 1 ? 0 : 1;
                }
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
                ++failures;
            }
            --running;
        });
    }
    // The trace switched while the managers test it, bounded in count and time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    for (int i = 0; running > 0 && i < 100000 && std::chrono::steady_clock::now() < deadline; ++i) {
        trace->setOn(i % 2 == 0);
        trace->setComponentMask(i % 3 == 0 ? 0xffffffffu : RYX_TRACE_COMP_DIRLDAP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
}

// A list's OpenSSL object and its sorted index are built on first use, by
// whichever thread comes first; empty buffers are made on every thread.
TEST(ManagerThreads, OneListReadFromManyThreads) {
    labpki::CrlOptions options;
    options.revokedCount = 500;
    options.serials = {3, 1};  // out of order: look-ups sort an index
    const Bytes der = labpki::Authority::root("cn=Shared CA").crl(options);
    RYXASNCertificateList list(RYXASN_SECURITY_NONE);
    list.decodeDER(der.data(), der.size());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&list, &failures, t] {
            for (int i = 0; i < kRetrievals; ++i) {
                const bool listed = list.isRevoked(i % 2 == 0 ? "1F4" : "1F5");
                const bool built = (t + i) % 3 != 0 || list.native() != nullptr;
                // Empty buffers, too, once shared one byte for writers.
                const bool empty = RYXBuffer().getValue()[0] == 0;
                failures += listed == (i % 2 == 0) && built && empty ? 0 : 1;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
}

}  // namespace
