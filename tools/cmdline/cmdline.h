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

// A pair of words and what they mean: an exit status, a variable, a file, an
// example command line.
struct Entry {
    const char* term;
    const char* text;  // may span lines
};

struct Program {
    const char* name = "";
    const char* version = "";
    const char* summary = "";            // one line: what the program is
    const char* description = "";        // paragraphs separated by blank lines
    std::vector<const Option*> general;  // tables of options every command takes
    std::vector<const Command*> commands;
    const char* notes = "";  // after the options in -h, and in the man page's DESCRIPTION
    std::vector<Entry> statuses;
    std::vector<Entry> environment;
    std::vector<Entry> files;
    std::vector<Entry> examples;
    std::vector<Entry> valueWords;  // an option value's name, the words it takes
    const char* seeAlso = "";       // "ldapsearch(1), ..."
};

// Ends a command with its exit status and a one-line message.
struct Failure {
    int status;
    std::string message;
};

// A bad command line ends with status 2; the program prints the message and a
// hint.
constexpr int kUsageStatus = 2;
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
// checks the operands. Fails with a usage failure.
Parsed parse(const Program& program, int argc, char** argv, void* settings);

// The last value given to the option named name (its short form, say "-f"),
// read as parse() would read it, also from a command line that fails to parse
// further on; empty when none was given.
std::string lastValue(const Program& program, int argc, char** argv, const std::string& name);

// An integer option value in [low, high]; what names it in the failure.
int integer(const char* text, const char* what, int low, int high);

// The -h text.
std::string usageText(const Program& program);
// The one-line hint that follows a usage failure's message.
std::string hint(const Program& program);
// The man page (troff) and the bash completion script, from the same tables.
std::string manPage(const Program& program);
std::string bashCompletion(const Program& program);

// "NAME: message" and the hint on standard error.
void writeUsageFailure(const Program& program, const std::string& message);

}  // namespace cmdline

#endif
