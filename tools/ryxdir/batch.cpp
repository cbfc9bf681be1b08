// --batch: the operands of a fetching command read from standard input, one a
// line, and looked up with one manager for the whole run, so that a script that
// checks thousands of entries pays the start-up once. Every input line gets one
// result line; a failed line does not end the run unless --stop-on-error says
// so. The exit status is the highest of the lines' statuses (0 for no lines).
#include <algorithm>
#include <cstdio>
#include <string>

#include "batchinput.h"
#include "cli.h"
#include "directory.h"
#include "handlers.h"
#include "status.h"

namespace ryxdir {

namespace {

// Longer lines hold no name or URL; they are reported and skipped.
constexpr size_t kMaxLine = 64 * 1024;

// One line without its end; false at the end of the input. A line over
// kMaxLine bytes is read to its end but kept short, and tooLong is set.
bool readLine(std::FILE* in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    int c;
    while ((c = std::getc(in)) != EOF && c != '\n') {
        if (line.size() < kMaxLine) {
            line.push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
    if (c == EOF && std::ferror(in)) {
        fail(EXIT_USAGE, "cannot read standard input");
    }
    return c != EOF || !line.empty() || tooLong;
}

std::string trimmed(const std::string& text) {
    const char* const blanks = " \t\r\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The retrieval of one operand, its failure kept as the line's result.
// Failures that no other line can escape (the plug-in, the output) end the run.
int lookUp(const Command& command, Directory& directory, const std::string& operand,
           std::string& why, Found& found) {
    try {
        found = command.fetch(directory, operand);
        return found.count() == 0 ? EXIT_NONE : EXIT_FOUND;
    } catch (const Failure& f) {
        if (f.status == EXIT_PLUGIN || f.status == EXIT_OUTPUT) {
            throw;
        }
        why = f.message;
        return f.status;
    }
}

}  // namespace

int eachInputLine(const Settings& s, Output& out, const LineHandler& handle) {
    int worst = EXIT_FOUND;
    std::string line;
    bool tooLong = false;
    for (size_t number = 1; readLine(stdin, line, tooLong); ++number) {
        const std::string operand = trimmed(line);
        if (operand.empty() && !tooLong) {
            continue;
        }
        std::string why;
        if (tooLong) {
            why = "line longer than " + std::to_string(kMaxLine) + " bytes";
        } else if (operand.find('\0') != std::string::npos) {
            why = "line holds a NUL byte";
        }
        int status = EXIT_USAGE;
        if (why.empty()) {
            status = handle(operand, why);
        } else {
            out.resultLine(operand, status, why, nullptr);
        }
        worst = std::max(worst, status);
        if (!why.empty()) {
            note("line " + std::to_string(number) + ": " + why);
            if (s.stopOnError) {
                break;
            }
        }
    }
    return worst;
}

int runBatch(Settings& s, Output& out) {
    Directory directory(s);
    directory.open();
    return eachInputLine(s, out, [&](const std::string& operand, std::string& why) {
        Found found;
        const int status = lookUp(*s.command, directory, operand, why, found);
        const bool failed = status != EXIT_FOUND && status != EXIT_NONE;
        out.resultLine(operand, status, why, failed ? nullptr : &found);
        return status;
    });
}

}  // namespace ryxdir
