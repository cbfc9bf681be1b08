#include "benchproc.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "childprocess.h"

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

}  // namespace

Outcome run(const Command& command, int timeoutSeconds, bool keepOutput) {
    const std::string memoryPath = temporaryFile("memory");
    std::vector<std::string> words;
    if (command.measureMemory) {
        words = {"/usr/bin/time", "-f", "%M", "-o", memoryPath};
    }
    words.insert(words.end(), command.argv.begin(), command.argv.end());
    const std::string outPath = keepOutput ? temporaryFile("stdout") : "/dev/null";
    const std::string errPath = temporaryFile("stderr");
    ryxproc::Launch launch;
    launch.argv = words;
    launch.env = command.env;
    launch.stdinPath = command.stdinPath;
    launch.stdoutPath = outPath;
    launch.stderrToStdout = command.errorToOutput;
    launch.stderrPath = errPath;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    const bool timedOut = !ryxproc::run(launch, std::chrono::seconds(timeoutSeconds), &status);
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
