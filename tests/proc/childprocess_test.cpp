// A program that does not end is stopped within a generous bound: on SIGTERM,
// or on SIGKILL when it ignores SIGTERM; a bounded run gives up on it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <iostream>

#include "childprocess.h"

namespace {

using Clock = std::chrono::steady_clock;
using ryxproc::Milliseconds;

const Milliseconds kGrace(1000);
// Generous: CI runs under emulators and on loaded machines.
const auto kLimit = 3 * 2 * kGrace + std::chrono::seconds(5);

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(ChildProcessTest, StopEndsAProgramWithinTheBound) {
    const struct {
        const char* name;
        std::vector<std::string> argv;
        int signal;
    } cases[] = {
        {"sleep", {"sleep", "60"}, SIGTERM},
        {"ignores SIGTERM", {"sh", "-c", "trap '' TERM; exec sleep 60"}, SIGKILL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ryxproc::Launch launch;
        launch.argv = c.argv;
        const pid_t pid = ryxproc::start(launch);
        EXPECT_FALSE(ryxproc::waitFor(pid, Milliseconds(300)));  // and the shell has set its trap
        const auto start = Clock::now();
        int status = 0;
        EXPECT_TRUE(ryxproc::stop(pid, kGrace, &status));
        std::cout << c.name << ": stopped in " << secondsSince(start) << " s\n";
        EXPECT_LT(Clock::now() - start, kLimit);
        EXPECT_EQ(ryxproc::exitCode(status), 128 + c.signal);
        EXPECT_FALSE(ryxproc::alive(pid));
    }
}

TEST(ChildProcessTest, BoundedRunGivesUpOnAProgramThatDoesNotEnd) {
    ryxproc::Launch launch;
    launch.argv = {"sleep", "60"};
    const auto start = Clock::now();
    int status = 0;
    EXPECT_FALSE(ryxproc::run(launch, Milliseconds(500), &status));
    std::cout << "bounded run ended in " << secondsSince(start) << " s\n";
    EXPECT_LT(Clock::now() - start, kLimit);
    launch.argv = {"/nonexistent/program"};
    EXPECT_THROW(ryxproc::start(launch), std::runtime_error);
}

}  // namespace
