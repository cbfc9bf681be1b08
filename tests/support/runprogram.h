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

// One field of a cases file: C escapes (\\ \n \t \r \" \0 \xHH) decoded, then
// every ${NAME} of vars replaced by its value.
inline std::string caseField(const std::string& raw,
                             const std::map<std::string, std::string>& vars) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            out += raw[i];
        } else if (raw[++i] == 'x' && i + 2 < raw.size()) {
            out += static_cast<char>(std::strtol(raw.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {  // the sixth decoded character is the literal's closing NUL
            const size_t at = std::string("\\\"ntr0").find(raw[i]);
            out += at == std::string::npos ? raw[i] : "\\\"\n\t\r"[at];
        }
    }
    for (const auto& [name, value] : vars) {
        for (size_t at; (at = out.find("${" + name + "}")) != std::string::npos;) {
            out.replace(at, name.size() + 3, value);
        }
    }
    return out;
}

// The rows of a cases file: one case a line, fields separated by tabs, blank
// lines and lines starting with '#' passed over.
inline std::vector<std::vector<std::string>> readCases(
    const std::string& path, const std::map<std::string, std::string>& vars = {}) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        rows.emplace_back();
        for (size_t at = 0, tab = 0; tab != std::string::npos; at = tab + 1) {
            tab = line.find('\t', at);
            rows.back().push_back(caseField(line.substr(at, tab - at), vars));
        }
    }
    EXPECT_FALSE(rows.empty()) << "no cases in " << path;
    return rows;
}

}  // namespace spawntest

#endif
