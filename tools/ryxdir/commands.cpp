// The command line of ryxdir: the commands, the output options every command
// takes, and the checks that only the whole command line allows.
#include "commands.h"

#include <sstream>

#include "status.h"

namespace ryxdir {

namespace {

void setFormat(Settings& s, const char* v) {
    const std::string name = v;
    if (name != "pem" && name != "der" && name != "text" && name != "json") {
        usageError("unknown format \"" + name + "\"");
    }
    s.formatName = name;
}
void setOutDir(Settings& s, const char* v) {
    s.outDir = v;
}
void setBatch(Settings& s, const char*) {
    s.batch = true;
}
void setStopOnError(Settings& s, const char*) {
    s.stopOnError = true;
}

const cmdline::Option kOutputOptions[] = {
    {"-f", "FORMAT", "pem (default for objects), der (needs -o), text (default otherwise) or json",
     set<setFormat>},
    {"-o", "DIR", "with -f der: write one file per object into DIR", set<setOutDir>},
    {"--batch", nullptr,
     "read the command's operands from standard input, one a line, and write\n"
     "one result line each (text: status, operand and result between tabs; or\n"
     "-f json); one connection for all; exit status: the highest of the lines'",
     set<setBatch>},
    {"--stop-on-error", nullptr, "with --batch: stop at the first line that fails",
     set<setStopOnError>},
    {nullptr, nullptr, nullptr, nullptr},
};

const Command* const kCommands[] = {
    &kCaCommand,    &kUserCommand,   &kCrlCommand,        &kArlCommand,     &kUrlCommand,
    &kCheckCommand, &kVerifyCommand, &kLoadedFromCommand, &kPublishCommand,
};

const Command& commandOf(const cmdline::Command* line) {
    for (const Command* c : kCommands) {
        if (&c->line == line) {
            return *c;
        }
    }
    throw std::logic_error("a command outside the table");
}

bool takesFormat(const Command& command, const std::string& format) {
    std::istringstream in(command.formats);
    for (std::string f; in >> f;) {
        if (f == format) {
            return true;
        }
    }
    return false;
}

Format formatNamed(const std::string& name) {
    return name == "pem"    ? Format::Pem
           : name == "der"  ? Format::Der
           : name == "json" ? Format::Json
                            : Format::Text;
}

// In a batch run the operands come from standard input.
void takeOperands(Settings& s, const std::vector<std::string>& operands) {
    const cmdline::Command& c = s.command->line;
    const size_t wanted = c.operand != nullptr && !s.batch ? 1 : 0;
    if (operands.size() < wanted) {
        usageError(std::string("command ") + c.name + " needs " + c.operand);
    }
    if (operands.size() > wanted && !(c.manyOperands && wanted == 1)) {
        usageError("unexpected argument \"" + operands[wanted] + "\"");
    }
    if (wanted == 1) {
        s.operand = operands[0];
    }
    s.operands = operands;
}

void chooseFormat(Settings& s) {
    const Command& c = *s.command;
    if (s.batch && (s.formatName == "pem" || s.formatName == "der")) {
        usageError("--batch writes text or json, not " + s.formatName);
    }
    if (s.batch && s.formatName.empty()) {
        s.format = Format::Text;
    } else if (s.formatName.empty()) {
        s.format = c.defaultFormat;
    } else if (!takesFormat(c, s.formatName)) {
        usageError(std::string("command ") + c.line.name + " writes " + c.formats + ", not " +
                   s.formatName);
    } else {
        s.format = formatNamed(s.formatName);
        // Commands that fetch no objects print text for the object formats.
        if (c.defaultFormat != Format::Pem &&
            (s.format == Format::Pem || s.format == Format::Der)) {
            s.format = Format::Text;
        }
    }
    if (s.formatName == "der" && s.outDir.empty()) {
        usageError("format der needs -o DIR");
    }
}

// Checks what only the whole command line tells.
void finishSettings(Settings& s) {
    const Command& c = *s.command;
    if (s.stopOnError && !s.batch) {
        usageError("option --stop-on-error needs --batch");
    }
    if (s.batch && c.fetch == nullptr && !c.line.manyOperands) {
        usageError(std::string("command ") + c.line.name + " has no batch mode");
    }
    chooseFormat(s);
}

}  // namespace

const cmdline::Program& program() {
    static const cmdline::Program p = [] {
        cmdline::Program q;
        q.name = "ryxdir";
        q.version = RYX_VERSION;
        q.general = {kConnectionOptions, kOutputOptions};
        for (const Command* c : kCommands) {
            q.commands.push_back(&c->line);
        }
        q.notes =
            "NAME is a distinguished name as written in LDAP (\"CN=CA,O=Example,C=DE\").\n"
            "Exit status: 0 found or valid, 1 nothing found, 2 usage, 3 plug-in, 4 directory,\n"
            "5 output, 6 certificate invalid, 7 no path to a trust anchor, 8 revocation\n"
            "status unavailable; publish: 9 not well-formed DER, 10 bad signature, 11 not\n"
            "newer than the published list, 12 past its next update.\n";
        return q;
    }();
    return p;
}

Settings parseCommandLine(int argc, char** argv) {
    Settings s;
    cmdline::Parsed parsed;
    try {
        parsed = cmdline::parse(program(), argc, argv, &s);
    } catch (const cmdline::UsageFailure& f) {
        usageError(f.message);
    }
    s.help = parsed.help;
    s.version = parsed.version;
    if (s.help || s.version) {
        return s;
    }
    s.command = &commandOf(parsed.command);
    takeOperands(s, parsed.operands);
    finishSettings(s);
    return s;
}

std::string usageText() {
    return cmdline::usageText(program());
}

}  // namespace ryxdir
