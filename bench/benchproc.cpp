#include "benchproc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace benchproc {

namespace {

std::string temporaryFile(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/ryx-bench-" +
           std::to_string(::getpid()) + "-" + name;
}

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits for pid, killing it once the deadline has passed; returns its status
// and resource usage.
int waitBounded(pid_t pid, int timeoutSeconds, rusage& usage, bool& timedOut) {
    timedOut = false;
    int status = 0;
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {  // an older kernel: look every millisecond
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
        while (::wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                timedOut = true;
                ::kill(pid, SIGKILL);
                break;
            }
            ::usleep(1000);
        }
        if (!timedOut) {
            return status;
        }
    } else {
        pollfd p{pidfd, POLLIN, 0};
        int ready;
        while ((ready = ::poll(&p, 1, timeoutSeconds * 1000)) < 0 && errno == EINTR) {
        }
        ::close(pidfd);
        if (ready == 0) {
            timedOut = true;
            ::kill(pid, SIGKILL);
        }
    }
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

Outcome run(const Command& command, int timeoutSeconds, bool keepOutput) {
    const std::string memoryPath = temporaryFile("memory");
    std::vector<std::string> words;
    if (command.measureMemory) {
        words = {"/usr/bin/time", "-f", "%M", "-o", memoryPath};
    }
    words.insert(words.end(), command.argv.begin(), command.argv.end());
    std::vector<char*> argv;
    for (const std::string& a : words) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        envStrings.emplace_back(*e);
    }
    envStrings.insert(envStrings.end(), command.env.begin(), command.env.end());
    std::vector<char*> env;
    for (std::string& e : envStrings) {
        env.push_back(&e[0]);
    }
    env.push_back(nullptr);

    const std::string outPath = keepOutput ? temporaryFile("stdout") : "/dev/null";
    const std::string errPath = temporaryFile("stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, command.stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (command.errorToOutput) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    pid_t pid = -1;
    const auto start = std::chrono::steady_clock::now();
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        throw std::runtime_error("cannot start " + command.argv[0] + ": " + std::strerror(rc));
    }
    rusage usage{};  // of a process that shared the benchmark's memory: not used
    bool timedOut = false;
    const int status = waitBounded(pid, timeoutSeconds, usage, timedOut);
    Outcome outcome;
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (command.measureMemory) {
        // GNU time writes a line about a failing exit status before the count.
        const std::string memory = contents(memoryPath);
        const size_t end = memory.find_last_not_of("\n");
        const size_t line = end == std::string::npos ? 0 : memory.rfind('\n', end);
        outcome.maxRssKiB = std::atol(memory.c_str() + (line == std::string::npos ? 0 : line + 1));
        ::unlink(memoryPath.c_str());
    }
    if (keepOutput) {
        outcome.out = contents(outPath);
        ::unlink(outPath.c_str());
    }
    const std::string err = contents(errPath);
    ::unlink(errPath.c_str());
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (timedOut || outcome.status < 0 || outcome.status > command.maxStatus) {
        std::string what = command.argv.back();
        throw std::runtime_error(command.argv[0] + (timedOut ? " ran too long" : " failed") + " (" +
                                 what.substr(0, 200) +
                                 "): " + err.substr(err.size() > 400 ? err.size() - 400 : 0));
    }
    return outcome;
}

Command shell(const std::string& script) {
    Command c;
    c.argv = {"/bin/sh", "-c", script};
    return c;
}

bool installed(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace benchproc
