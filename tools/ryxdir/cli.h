// The command line: one table of commands and one of options, from which the
// parser and the usage text are made.
#ifndef RYXDIR_CLI_H
#define RYXDIR_CLI_H

#include <string>

#include "output.h"
#include "settings.h"

namespace ryxdir {

class Directory;

using Handler = int (*)(Settings&, Output&);
// The retrieval of one operand; fails with a status and a message.
using Fetch = Found (*)(Directory&, const std::string& operand);

struct Command {
    const char* name;
    const char* operand;  // the name of its one operand; null: none
    const char* summary;
    const char* formats;  // the -f values it takes, blank-separated
    Format defaultFormat;
    Handler handler;
    Fetch fetch;  // for --batch; null: the command has no batch mode of this kind
    // Takes one operand or more, and reads them from standard input with
    // --batch through its own handler.
    bool manyOperands = false;
};

struct Option {
    const char* name;     // "-H", "--trust"
    const char* value;    // the name of its value; null: a flag
    const char* command;  // the command it belongs to; null: every command
    const char* help;     // may span lines
    void (*apply)(Settings&, const char* value);
};

extern const Command kCommands[];
extern const Option kOptions[];

// Settings from argv. Options without a command may stand before the command;
// the command's own and the general ones may follow it, mixed with its
// operand. Fails with a usage failure.
Settings parseCommandLine(int argc, char** argv);

std::string usageText();

}  // namespace ryxdir

#endif
