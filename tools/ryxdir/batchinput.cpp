// --batch: operands read from standard input, one a line.
#include <algorithm>
#include <cstdio>
#include <string>

#include "batchinput.h"
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

}  // namespace ryxdir
