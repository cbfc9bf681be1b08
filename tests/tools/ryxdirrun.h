// Runs the ryxdir program as a user runs it and collects its exit status and
// output. Every run is bounded in time: a program still running after the
// limit is killed and the run fails.
#ifndef RYXDIRRUN_H
#define RYXDIRRUN_H

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace ryxdirrun {

struct Result {
    int status = -1;  // exit status, or 128 + signal
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
    std::vector<std::string> env;  // added to the test's own environment
    std::vector<int> closed;       // descriptors the program starts without
    std::string stdinPath = "/dev/null";
    std::string stdoutPath;  // default: a file that is read back into Result::out
    bool setsid = false;     // a new session, without a controlling terminal
    int timeoutSeconds = 60;
};

// Runs argv (argv[0] a path, or a name looked up in PATH); output files live in dir.
inline Result run(const std::vector<std::string>& argv, const std::string& dir,
                  const RunOptions& options = RunOptions()) {
    std::vector<std::string> args = argv;
    std::vector<char*> cargv;
    for (auto& a : args)
        cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    std::vector<std::string> envs;
    for (char** e = environ; *e != nullptr; ++e)
        envs.emplace_back(*e);
    envs.insert(envs.end(), options.env.begin(), options.env.end());
    std::vector<char*> cenv;
    for (auto& e : envs)
        cenv.push_back(&e[0]);
    cenv.push_back(nullptr);

    const std::string out = options.stdoutPath.empty() ? dir + "/stdout" : options.stdoutPath;
    const std::string err = dir + "/stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, options.stdinPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (int fd : options.closed)
        posix_spawn_file_actions_addclose(&fa, fd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (options.setsid) {
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    }
    pid_t pid = -1;
    Result r;
    const int rc = posix_spawnp(&pid, cargv[0], &fa, &attr, cargv.data(), cenv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
        ADD_FAILURE() << "cannot start " << cargv[0];
        return r;
    }
    int wstatus = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    while (::waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            ADD_FAILURE() << cargv[0] << " ran longer than " << options.timeoutSeconds << " s";
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (options.stdoutPath.empty()) {
        r.out = readFile(out);
    }
    r.err = readFile(err);
    return r;
}

// True when text is one JSON document, by Python's parser.
inline bool parsesAsJson(const std::string& text, const std::string& dir) {
    const std::string path = dir + "/document.json";
    writeFile(path, text);
    Result r =
        run({"/usr/bin/python3", "-c", "import json,sys; json.load(open(sys.argv[1]))", path}, dir);
    if (r.status != 0) {
        ADD_FAILURE() << r.err;
    }
    return r.status == 0;
}

}  // namespace ryxdirrun

#endif
