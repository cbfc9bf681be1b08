#include "cli.h"

#include <cstring>
#include <sstream>
#include <vector>

#include "status.h"

namespace ryxdir {

namespace {

const Command* findCommand(const std::string& name) {
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        if (name == c->name) {
            return c;
        }
    }
    return nullptr;
}

bool belongsTo(const Option& option, const Command* command) {
    return option.command == nullptr ||
           (command != nullptr && std::strcmp(option.command, command->name) == 0);
}

// Applies the option at argv[i], moving i past its value.
void applyOption(Settings& s, const Command* command, int argc, char** argv, int& i) {
    std::string arg = argv[i];
    const char* inlineValue = nullptr;
    const size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        inlineValue = argv[i] + equals + 1;
        arg.resize(equals);
    }
    for (const Option* o = kOptions; o->name != nullptr; ++o) {
        if (arg != o->name) {
            continue;
        }
        if (!belongsTo(*o, command)) {
            usageError("option " + arg + " belongs to command " + o->command);
        }
        const char* value = nullptr;
        if (o->value == nullptr) {
            if (inlineValue != nullptr) {
                usageError("option " + arg + " takes no value");
            }
        } else if (inlineValue != nullptr) {
            value = inlineValue;
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            usageError("option " + arg + " needs a value");
        }
        o->apply(s, value);
        return;
    }
    usageError("unknown option \"" + arg + "\"");
}

bool looksLikeOption(const char* arg) {
    return arg[0] == '-' && arg[1] != '\0';
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

// Checks what only the whole command line tells.
void finishSettings(Settings& s) {
    const Command& c = *s.command;
    if (s.stopOnError && !s.batch) {
        usageError("option --stop-on-error needs --batch");
    }
    if (s.batch && c.fetch == nullptr && !c.manyOperands) {
        usageError(std::string("command ") + c.name + " has no batch mode");
    }
    if (s.batch && (s.formatName == "pem" || s.formatName == "der")) {
        usageError("--batch writes text or json, not " + s.formatName);
    }
    if (s.batch && s.formatName.empty()) {
        s.format = Format::Text;
    } else if (s.formatName.empty()) {
        s.format = c.defaultFormat;
    } else if (!takesFormat(c, s.formatName)) {
        usageError(std::string("command ") + c.name + " writes " + c.formats + ", not " +
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
    if (!s.errorModeGiven && std::strcmp(c.name, "verify") == 0) {
        s.errorMode = 1;  // a missing entry holds no certificate or list
    }
}

// Rows "  NAME VALUE   help", help aligned, continuation lines indented.
void optionRows(std::ostringstream& out, const Command* only) {
    std::vector<std::pair<std::string, const char*>> rows;
    for (const Option* o = kOptions; o->name != nullptr; ++o) {
        const bool mine = only == nullptr
                              ? o->command == nullptr
                              : o->command != nullptr && std::strcmp(o->command, only->name) == 0;
        if (mine && o->help != nullptr) {
            rows.emplace_back(std::string(o->name) + (o->value ? std::string(" ") + o->value : ""),
                              o->help);
        }
    }
    size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.first.size());
    }
    for (const auto& row : rows) {
        std::istringstream help(row.second);
        std::string line;
        bool first = true;
        while (std::getline(help, line)) {
            const std::string left = first ? row.first : "";
            out << "  " << left << std::string(width - left.size() + 2, ' ') << line << "\n";
            first = false;
        }
    }
}

}  // namespace

Settings parseCommandLine(int argc, char** argv) {
    Settings s;
    int i = 1;
    for (; i < argc && looksLikeOption(argv[i]); ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        applyOption(s, nullptr, argc, argv, i);
        if (s.help) {
            return s;
        }
    }
    if (i >= argc) {
        usageError("no command given");
    }
    s.command = findCommand(argv[i]);
    if (s.command == nullptr) {
        usageError(std::string("unknown command \"") + argv[i] + "\"");
    }
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (++i; i < argc; ++i) {
        if (!optionsEnded && std::strcmp(argv[i], "--") == 0) {
            optionsEnded = true;
        } else if (!optionsEnded && looksLikeOption(argv[i])) {
            applyOption(s, s.command, argc, argv, i);
        } else {
            operands.emplace_back(argv[i]);
        }
    }
    if (s.help) {
        return s;
    }
    // In a batch run the operands come from standard input.
    const size_t wanted = s.command->operand != nullptr && !s.batch ? 1 : 0;
    if (operands.size() < wanted) {
        usageError(std::string("command ") + s.command->name + " needs " + s.command->operand);
    }
    if (operands.size() > wanted && !(s.command->manyOperands && wanted == 1)) {
        usageError("unexpected argument \"" + operands[wanted] + "\"");
    }
    if (wanted == 1) {
        s.operand = operands[0];
    }
    s.operands = operands;
    finishSettings(s);
    return s;
}

std::string usageText() {
    std::ostringstream out;
    out << "usage: ryxdir [options] COMMAND [command options] [OPERAND]\n"
        << "commands:\n";
    size_t width = 0;
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        width =
            std::max(width, std::strlen(c->name) + (c->operand ? std::strlen(c->operand) + 1 : 0));
    }
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        const std::string left =
            std::string(c->name) + (c->operand ? std::string(" ") + c->operand : "");
        std::istringstream summary(c->summary);
        std::string line;
        bool first = true;
        while (std::getline(summary, line)) {
            const std::string shown = first ? left : "";
            out << "  " << shown << std::string(width - shown.size() + 2, ' ') << line << "\n";
            first = false;
        }
    }
    out << "options:\n";
    optionRows(out, nullptr);
    for (const Command* c = kCommands; c->name != nullptr; ++c) {
        std::ostringstream rows;
        optionRows(rows, c);
        if (!rows.str().empty()) {
            out << c->name << " options:\n" << rows.str();
        }
    }
    out << "NAME is a distinguished name as written in LDAP (\"CN=CA,O=Example,C=DE\").\n"
           "Exit status: 0 found or valid, 1 nothing found, 2 usage, 3 plug-in, 4 directory,\n"
           "5 output, 6 certificate invalid, 7 no path to a trust anchor, 8 revocation\n"
           "status unavailable.\n";
    return out.str();
}

}  // namespace ryxdir
