// The commands of ryxdir: each command's file holds its table row, its options
// and its handler; commands.cpp gathers them with the general options into the
// program's command line.
#ifndef RYXDIR_COMMANDS_H
#define RYXDIR_COMMANDS_H

#include <string>

#include "cmdline.h"
#include "output.h"
#include "settings.h"

namespace ryxdir {

class Directory;

using Handler = int (*)(Settings&, Output&);
// The retrieval of one operand; fails with a status and a message.
using Fetch = Found (*)(Directory&, const std::string& operand);

struct Command {
    cmdline::Command line;  // name, operand, summary, own options
    const char* formats;    // the -f values it takes, blank-separated
    Format defaultFormat;
    Handler handler;
    Fetch fetch;  // for --batch; null: the command has no batch mode of this kind
};

// An option's action on the settings.
template <void (*F)(Settings&, const char*)>
constexpr cmdline::Apply set = &cmdline::applyTo<Settings, F>;

extern const Command kCaCommand;
extern const Command kUserCommand;
extern const Command kCrlCommand;
extern const Command kArlCommand;
extern const Command kUrlCommand;
extern const Command kCheckCommand;
extern const Command kVerifyCommand;
extern const Command kLoadedFromCommand;
extern const Command kStatusCommand;
extern const Command kPublishCommand;

// --batch of the fetching commands: their operands from standard input.
int runBatch(Settings& settings, Output& out);

const cmdline::Program& program();

// Settings from argv. Options without a command may stand anywhere; the
// command's own follow it, mixed with its operands. Fails with a usage failure.
Settings parseCommandLine(int argc, char** argv);

std::string usageText();

}  // namespace ryxdir

#endif
