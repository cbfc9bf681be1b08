// Child processes for the lab, the benchmarks and the tests: one way to start a
// program, wait for it with a bound and stop it (SIGTERM, then SIGKILL when it
// does not go within a grace period). Every wait here is bounded.
#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace ryxproc {

using Milliseconds = std::chrono::milliseconds;

struct Launch {
    std::vector<std::string> argv;  // argv[0]: a path, or a name looked up in PATH
    std::vector<std::string> env;   // NAME=VALUE set over the caller's own environment
    // Redirections; an empty path leaves the caller's descriptor in place.
    std::string stdinPath;
    std::string stdoutPath;  // created or truncated (appended to with appendOutput)
    std::string stderrPath;
    bool appendOutput = false;
    bool stderrToStdout = false;
    std::vector<int> closed;       // descriptors the program starts without
    bool newSession = false;       // setsid: no controlling terminal, no signals from ours
    bool onlyStandardFds = false;  // the program inherits no descriptor beyond 0-2
    bool dieWithParent = false;    // SIGKILL when the starting thread ends
};

// Starts the program; throws std::runtime_error ("cannot start NAME: reason").
pid_t start(const Launch& launch);

// Waits up to bound for pid to end; true, with its wait status in *status (when
// not null), when it ended. A child is reaped; a process of another parent is
// watched until it has exited (its status then reads 0).
bool waitFor(pid_t pid, Milliseconds bound, int* status = nullptr);

// SIGTERM, up to grace for the process to end, then SIGKILL and up to grace
// again. True when it ended (or was gone already); its wait status goes to
// *status when it was our child.
bool stop(pid_t pid, Milliseconds grace, int* status = nullptr);

// True while pid names a process that has not exited (a zombie has).
bool alive(pid_t pid);

// Exit status, 128 + signal number for a process ended by a signal.
int exitCode(int status);

// The whole run: start, wait up to bound, stop when over it. True with the
// wait status when the program ended within the bound.
bool run(const Launch& launch, Milliseconds bound, int* status);

}  // namespace ryxproc

#endif
