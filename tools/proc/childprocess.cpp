#include "childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "ryxuniquefd.h"

extern char** environ;

namespace ryxproc {

namespace {

using Clock = std::chrono::steady_clock;

// NULL-terminated pointers into strings, for exec.
std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(&s[0]);
    out.push_back(nullptr);
    return out;
}

// The caller's environment with the launch's NAME=VALUE entries in place of
// the caller's own values of those names.
std::vector<std::string> environment(const std::vector<std::string>& overrides) {
    std::vector<std::string> env = overrides;
    for (char** e = environ; *e != nullptr; ++e) {
        const char* eq = std::strchr(*e, '=');
        const std::string name(*e, eq != nullptr ? static_cast<size_t>(eq - *e) : std::strlen(*e));
        bool overridden = false;
        for (const std::string& o : overrides)
            overridden = overridden || o.compare(0, name.size() + 1, name + "=") == 0;
        if (!overridden)
            env.emplace_back(*e);
    }
    return env;
}

[[noreturn]] void cannotStart(const Launch& launch, const std::string& reason) {
    throw std::runtime_error("cannot start " + (launch.argv.empty() ? "" : launch.argv[0]) + ": " +
                             reason);
}

// A file to open onto a standard descriptor. Opened in the child, after
// setsid: a terminal opened there becomes the session's controlling terminal.
struct Redirection {
    int fd;
    const char* path;
    int flags;
};

std::vector<Redirection> redirections(const Launch& launch) {
    const int write = O_WRONLY | O_CREAT | (launch.appendOutput ? O_APPEND : O_TRUNC);
    std::vector<Redirection> out;
    if (!launch.stdinPath.empty())
        out.push_back({0, launch.stdinPath.c_str(), O_RDONLY});
    if (!launch.stdoutPath.empty())
        out.push_back({1, launch.stdoutPath.c_str(), write});
    if (!launch.stderrPath.empty() && !launch.stderrToStdout)
        out.push_back({2, launch.stderrPath.c_str(), write});
    return out;
}

pid_t spawn(const Launch& launch, const std::vector<Redirection>& files, char** argv, char** envp) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const Redirection& r : files)
        posix_spawn_file_actions_addopen(&actions, r.fd, r.path, r.flags, 0644);
    if (launch.stderrToStdout)
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    for (int fd : launch.closed)
        posix_spawn_file_actions_addclose(&actions, fd);
    if (launch.onlyStandardFds)
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (launch.newSession)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        cannotStart(launch, std::strerror(rc));
    return pid;
}

// In the child, about to exec: what it opens and closes here is nobody's to own.
void closeInChild(int fd) {
    ::close(fd);  // in the child
}

// fork and exec, for what posix_spawn cannot ask: the parent-death signal.
// Only async-signal-safe calls between fork and exec.
pid_t forkExec(const Launch& launch, const std::vector<Redirection>& files, char** argv,
               char** envp) {
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        cannotStart(launch, std::strerror(errno));
    if (pid > 0)
        return pid;
    if (launch.dieWithParent && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
        ::_exit(127);
    if (launch.newSession)
        ::setsid();
    for (const Redirection& r : files) {
        const int fd = ::open(r.path, r.flags, 0644);
        if (fd < 0)
            ::_exit(127);
        if (fd != r.fd) {
            ::dup2(fd, r.fd);
            closeInChild(fd);
        }
    }
    if (launch.stderrToStdout)
        ::dup2(1, 2);
    for (int fd : launch.closed)
        closeInChild(fd);
    if (launch.onlyStandardFds)
        ::close_range(3, ~0U, 0);
    ::execvpe(argv[0], argv, envp);
    ::_exit(127);
}

// Reaps pid when it is our child; true when it has ended.
bool reaped(pid_t pid, int* status, bool block) {
    int s = 0;
    pid_t r;
    while ((r = ::waitpid(pid, &s, block ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r == pid && status != nullptr)
        *status = s;
    return r == pid || (r < 0 && !alive(pid));
}

// Without pidfd (an older kernel, some emulators): look every millisecond.
bool pollEnd(pid_t pid, Clock::time_point deadline, int* status) {
    while (!reaped(pid, status, false)) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(Milliseconds(1));
    }
    return true;
}

}  // namespace

bool alive(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z' &&
           stat[paren + 2] != 'X';
}

// Whether program can be executed: a path as it is, a name through the PATH of
// env. Checked before the start, because where posix_spawn runs as fork and
// exec (under an emulator, for one) a program that cannot run is only an exit
// status of 127 afterwards.
bool executable(const std::string& program, const std::vector<std::string>& env) {
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0;
    std::string path = "/usr/bin:/bin";
    for (const std::string& e : env) {
        if (e.compare(0, 5, "PATH=") == 0)
            path = e.substr(5);
    }
    for (size_t begin = 0; begin <= path.size();) {
        size_t end = path.find(':', begin);
        end = end == std::string::npos ? path.size() : end;
        const std::string folder = end == begin ? "." : path.substr(begin, end - begin);
        if (::access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        begin = end + 1;
    }
    return false;
}

pid_t start(const Launch& launch) {
    if (launch.argv.empty())
        cannotStart(launch, "no program named");
    std::vector<std::string> args = launch.argv;
    std::vector<std::string> env = environment(launch.env);
    if (!executable(args[0], env))
        cannotStart(launch, "not found or not executable");
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    const std::vector<Redirection> files = redirections(launch);
    return launch.dieWithParent ? forkExec(launch, files, argv.data(), envp.data())
                                : spawn(launch, files, argv.data(), envp.data());
}

bool waitFor(pid_t pid, Milliseconds bound, int* status) {
    if (status != nullptr)
        *status = 0;
    const Clock::time_point deadline = Clock::now() + bound;
    const ryx::UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!pidfd)
        return errno == ESRCH || pollEnd(pid, deadline, status);
    pollfd p{pidfd.get(), POLLIN, 0};
    for (;;) {
        const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now());
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0)
            return reaped(pid, status, true);
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool stop(pid_t pid, Milliseconds grace, int* status) {
    if (::kill(pid, SIGTERM) != 0)
        return errno == ESRCH && reaped(pid, status, false);
    if (waitFor(pid, grace, status))
        return true;
    ::kill(pid, SIGKILL);
    return waitFor(pid, grace, status);
}

int exitCode(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

bool run(const Launch& launch, Milliseconds bound, int* status) {
    const pid_t pid = start(launch);
    if (waitFor(pid, bound, status))
        return true;
    stop(pid, Milliseconds(1000), status);
    return false;
}

}  // namespace ryxproc
