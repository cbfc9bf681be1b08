// Runs a program as a user runs it: its exit status and what it wrote to
// standard output and standard error (through files in a scratch folder).
// Every run is bounded in time: a program still running after the limit is
// killed and the run fails.
#ifndef RUNPROGRAM_H
#define RUNPROGRAM_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace spawntest {

struct Result {
    int status = -1;  // exit status, 128 + signal, or -1 when it did not start or finish
    std::string out;
    std::string err;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct RunOptions {
    std::vector<std::string> env;  // before the test's own environment, so they win
    std::vector<int> closed;       // descriptors the program starts without
    std::string stdinPath = "/dev/null";
    std::string stdoutPath;  // default: scratch/stdout, read back into Result::out
    bool setsid = false;     // a new session, without a controlling terminal
    int timeoutSeconds = 60;
};

// Starts argv (argv[0] a path, or a name looked up in PATH); -1 when it cannot.
inline pid_t start(std::vector<std::string> argv, const std::string& scratch,
                   const RunOptions& options = RunOptions()) {
    std::vector<std::string> env = options.env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> out;
        for (std::string& s : strings)
            out.push_back(&s[0]);
        out.push_back(nullptr);
        return out;
    };
    std::vector<char*> cargv = pointers(argv), cenv = pointers(env);
    const std::string out = options.stdoutPath.empty() ? scratch + "/stdout" : options.stdoutPath;
    const std::string err = scratch + "/stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, options.stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (int fd : options.closed)
        posix_spawn_file_actions_addclose(&fa, fd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (options.setsid)
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, cargv[0], &fa, &attr, cargv.data(), cenv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

// Waits for a program that start() started and collects its result.
inline Result finish(pid_t pid, const std::string& scratch,
                     const RunOptions& options = RunOptions()) {
    Result r;
    if (pid < 0) {
        ADD_FAILURE() << "cannot start the program";
        return r;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    int wstatus = 0;
    for (pid_t done; (done = ::waitpid(pid, &wstatus, WNOHANG)) != pid;) {
        if (done < 0 && errno != EINTR) {
            ADD_FAILURE() << "lost the program: " << std::strerror(errno);
            return r;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << "the program ran longer than " << options.timeoutSeconds << " s";
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (options.stdoutPath.empty())
        r.out = readFile(scratch + "/stdout");
    r.err = readFile(scratch + "/stderr");
    return r;
}

inline Result run(const std::vector<std::string>& argv, const std::string& scratch,
                  const RunOptions& options = RunOptions()) {
    return finish(start(argv, scratch, options), scratch, options);
}

// True when text is one JSON document, by Python's parser.
inline bool parsesAsJson(const std::string& text, const std::string& scratch) {
    writeFile(scratch + "/document.json", text);
    const Result r = run({"python3", "-c", "import json,sys; json.load(open(sys.argv[1]))",
                          scratch + "/document.json"},
                         scratch);
    EXPECT_EQ(r.err, "");
    return r.status == 0;
}

}  // namespace spawntest

#endif
