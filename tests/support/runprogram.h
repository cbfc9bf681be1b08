// Runs a program as a user runs it: its exit status and what it wrote to
// standard output and standard error (through files in a scratch folder).
// Every run is bounded in time: a program still running after the limit is
// killed and the run fails.
#ifndef RUNPROGRAM_H
#define RUNPROGRAM_H

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cases.h"
#include "childprocess.h"

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
    std::vector<std::string> env;  // NAME=VALUE over the test's own environment
    std::vector<int> closed;       // descriptors the program starts without
    std::string stdinPath = "/dev/null";
    std::string stdoutPath;  // default: scratch/stdout, read back into Result::out
    bool setsid = false;     // a new session, without a controlling terminal
    int timeoutSeconds = 60;
};

// Starts argv (argv[0] a path, or a name looked up in PATH); -1 when it cannot.
inline pid_t start(std::vector<std::string> argv, const std::string& scratch,
                   const RunOptions& options = RunOptions()) {
    ryxproc::Launch launch;
    launch.argv = std::move(argv);
    launch.env = options.env;
    launch.closed = options.closed;
    launch.stdinPath = options.stdinPath;
    launch.stdoutPath = options.stdoutPath.empty() ? scratch + "/stdout" : options.stdoutPath;
    launch.stderrPath = scratch + "/stderr";
    launch.newSession = options.setsid;
    try {
        return ryxproc::start(launch);
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return -1;
    }
}

// Waits for a program that start() started and collects its result; one still
// running after the limit is stopped and the run fails.
inline Result finish(pid_t pid, const std::string& scratch,
                     const RunOptions& options = RunOptions()) {
    Result r;
    if (pid < 0) {
        ADD_FAILURE() << "cannot start the program";
        return r;
    }
    int wstatus = 0;
    if (!ryxproc::waitFor(pid, std::chrono::seconds(options.timeoutSeconds), &wstatus)) {
        ryxproc::stop(pid, std::chrono::seconds(2));
        ADD_FAILURE() << "the program ran longer than " << options.timeoutSeconds << " s";
        return r;
    }
    r.status = ryxproc::exitCode(wstatus);
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

// The rows of a cases file (see cases.h); a file without any fails the test.
inline std::vector<std::vector<std::string>> readCases(
    const std::string& path, const std::map<std::string, std::string>& vars = {}) {
    std::vector<std::vector<std::string>> rows = casefile::read(path, vars);
    EXPECT_FALSE(rows.empty()) << "no cases in " << path;
    return rows;
}

}  // namespace spawntest

#endif
