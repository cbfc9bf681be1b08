// A command line described by tables: a program's commands, the options every
// command takes and each command's own. The parser, the usage text and the
// documentation are all made from the same tables.
#ifndef RYX_CMDLINE_H
#define RYX_CMDLINE_H

#include <string>
#include <vector>

namespace cmdline {

// Applies an option to the program's settings; value is null for a flag.
using Apply = void (*)(void* settings, const char* value);

// An Apply from a function on the program's own settings type.
template <class Settings, void (*F)(Settings&, const char*)>
void applyTo(void* settings, const char* value) {
    F(*static_cast<Settings*>(settings), value);
}

struct Option {
    const char* name;   // "-H" or "--cacert"
    const char* value;  // the name of its value; null: a flag
    const char* help;   // may span lines
    Apply apply;
};
// Option tables end with a row whose name is null.

struct Command {
    const char* name;
    const char* operand;    // the name of its operand; null: none
    const char* summary;    // may span lines
    const Option* options;  // its own options; null: none
    bool manyOperands;      // takes one operand or more
};

struct Program {
    const char* name;
    const char* version;
    std::vector<const Option*> general;  // tables of options every command takes
    std::vector<const Command*> commands;
    const char* notes;  // printed after the options by -h
};

// A bad command line; the program prints it as one line and a hint.
struct UsageFailure {
    std::string message;
};
[[noreturn]] void usageFailure(const std::string& message);

struct Parsed {
    bool help = false;     // -h or --help alone
    bool version = false;  // --version alone
    const Command* command = nullptr;
    std::vector<std::string> operands;
};

// Applies argv's options, in order, to settings. Short options cluster (-WZ,
// -xD DN) and take their value attached (-p389) or as the next argument; long
// options take "--name VALUE" or "--name=VALUE"; "--" ends the options. The
// general options may stand anywhere, a command's own after it. The program
// checks the operands. Throws UsageFailure.
Parsed parse(const Program& program, int argc, char** argv, void* settings);

// An integer option value in [low, high]; what names it in the failure.
int integer(const char* text, const char* what, int low, int high);

// The -h text.
std::string usageText(const Program& program);
// The one-line hint that follows a usage failure's message.
std::string hint(const Program& program);
// "NAME: message" and the hint on standard error.
void writeUsageFailure(const Program& program, const std::string& message);

}  // namespace cmdline

#endif
