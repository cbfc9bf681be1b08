// Programs run by the benchmarks the way a script runs them: one process per
// call, standard output thrown away, the wall time taken around it. Every run
// is bounded in time. The peak resident memory of a process (and of the
// processes it waited for) is taken by GNU time when asked for: the kernel's
// count for a process started straight from the benchmark would include the
// benchmark's own memory, which the process shares until it runs its program.
#ifndef BENCHPROC_H
#define BENCHPROC_H

#include <string>
#include <vector>

namespace benchproc {

struct Command {
    std::vector<std::string> argv;  // argv[0]: a path, or a name looked up in PATH
    std::string stdinPath = "/dev/null";
    std::vector<std::string> env;  // NAME=VALUE added to the benchmark's own
    bool measureMemory = false;    // run under /usr/bin/time (which adds to the time)
    int maxStatus = 0;             // exit statuses up to this one are answers, not failures
    bool errorToOutput = false;    // standard error goes where standard output goes
};

struct Outcome {
    double seconds = 0;
    long maxRssKiB = -1;  // when measured
    std::string out;      // standard output, when asked for
    int status = 0;       // exit status
};

// Runs command to its end; throws std::runtime_error (with the end of its
// standard error) when it fails (exits above maxStatus, or by a signal) or
// runs longer than timeoutSeconds.
Outcome run(const Command& command, int timeoutSeconds = 600, bool keepOutput = false);

// A command run by /bin/sh -c (pipelines of peers).
Command shell(const std::string& script);

// True when name is an executable file in PATH.
bool installed(const std::string& name);

}  // namespace benchproc

#endif
