// Runs a program as a user runs it: its exit status and what it wrote to
// standard output and standard error (through files in a scratch folder).
#ifndef RUNPROGRAM_H
#define RUNPROGRAM_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace spawntest {

struct Result {
    int status = -1;  // exit status, 128 + signal, or -1 when it could not start
    std::string out;
    std::string err;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Starts argv[0] with argv; returns its pid (-1 on failure). Output goes to
// scratch/stdout and scratch/stderr.
inline pid_t start(std::vector<std::string> argv, const std::string& scratch) {
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    const std::string out = scratch + "/stdout", err = scratch + "/stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
}

// Waits for a program started by start() and collects its result.
inline Result finish(pid_t pid, const std::string& scratch) {
    Result r;
    if (pid < 0)
        return r;
    int wstatus = 0;
    pid_t done;
    while ((done = ::waitpid(pid, &wstatus, 0)) < 0 && errno == EINTR) {
    }
    if (done != pid)
        return r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    r.out = readFile(scratch + "/stdout");
    r.err = readFile(scratch + "/stderr");
    return r;
}

inline Result run(const std::vector<std::string>& argv, const std::string& scratch) {
    return finish(start(argv, scratch), scratch);
}

}  // namespace spawntest

#endif
