#include "cmdline.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace cmdline {

namespace {

bool isHelp(const std::string& arg) {
    return arg == "-h" || arg == "--help";
}

const Option* findIn(const Option* table, const std::string& name) {
    for (const Option* o = table; o != nullptr && o->name != nullptr; ++o) {
        if (name == o->name) {
            return o;
        }
    }
    return nullptr;
}

const Command* findCommand(const Program& p, const std::string& name) {
    for (const Command* c : p.commands) {
        if (name == c->name) {
            return c;
        }
    }
    return nullptr;
}

// The option named name that the command (null: none yet) takes.
const Option& findOption(const Program& p, const Command* command, const std::string& name) {
    if (name == "-h" || name == "--help" || name == "--version") {
        usageFailure(name + " stands alone; a server's host is given with -H");
    }
    // A command's own option comes first: it may give a general name a meaning
    // of its own (publish's --force).
    if (command != nullptr) {
        if (const Option* o = findIn(command->options, name)) {
            return *o;
        }
    }
    for (const Option* table : p.general) {
        if (const Option* o = findIn(table, name)) {
            return *o;
        }
    }
    for (const Command* c : p.commands) {
        if (findIn(c->options, name) != nullptr) {
            usageFailure("option " + name + " belongs to command " + c->name);
        }
    }
    usageFailure("unknown option \"" + name + "\"");
}

// Any table's option of that name; null for none.
const Option* anyOption(const Program& p, const std::string& name) {
    for (const Option* table : p.general) {
        if (const Option* o = findIn(table, name)) {
            return o;
        }
    }
    for (const Command* c : p.commands) {
        if (const Option* o = findIn(c->options, name)) {
            return o;
        }
    }
    return nullptr;
}

// Walks argv, applying options and collecting the command and its operands.
class Parser {
  public:
    Parser(const Program& p, int argc, char** argv, void* settings)
        : m_program(p), m_argc(argc), m_argv(argv), m_settings(settings) {}

    Parsed run() {
        bool optionsEnded = false;
        for (m_next = 1; m_next < m_argc;) {
            const char* arg = m_argv[m_next++];
            if (!optionsEnded && std::strcmp(arg, "--") == 0) {
                optionsEnded = true;
            } else if (!optionsEnded && arg[0] == '-' && arg[1] == '-') {
                longOption(arg);
            } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
                shortOptions(arg);
            } else if (m_parsed.command == nullptr) {
                m_parsed.command = findCommand(m_program, arg);
                if (m_parsed.command == nullptr) {
                    usageFailure(std::string("unknown command \"") + arg + "\"");
                }
            } else {
                m_parsed.operands.emplace_back(arg);
            }
        }
        if (m_parsed.command == nullptr) {
            usageFailure("no command given");
        }
        return m_parsed;
    }

  private:
    void longOption(const char* arg) {
        const char* equals = std::strchr(arg, '=');
        const std::string name = equals ? std::string(arg, equals) : std::string(arg);
        const Option& o = findOption(m_program, m_parsed.command, name);
        if (o.value == nullptr && equals != nullptr) {
            usageFailure("option " + name + " takes no value");
        }
        o.apply(m_settings, equals != nullptr ? equals + 1 : valueOf(o, nullptr));
    }

    // A cluster: flags, the last one may take a value (attached or next).
    void shortOptions(const char* arg) {
        for (const char* c = arg + 1; *c != '\0'; ++c) {
            const Option& o = findOption(m_program, m_parsed.command, std::string("-") + *c);
            if (o.value != nullptr) {
                o.apply(m_settings, valueOf(o, c[1] != '\0' ? c + 1 : nullptr));
                return;
            }
            o.apply(m_settings, nullptr);
        }
    }

    const char* valueOf(const Option& o, const char* attached) {
        if (o.value == nullptr || attached != nullptr) {
            return attached;
        }
        if (m_next >= m_argc) {
            usageFailure(std::string("option ") + o.name + " needs " + o.value);
        }
        return m_argv[m_next++];
    }

    const Program& m_program;
    int m_argc;
    char** m_argv;
    void* m_settings;
    int m_next = 1;
    Parsed m_parsed;
};

// Rows "  LEFT   text", the text aligned and its further lines indented.
void rows(std::ostringstream& out, const std::vector<std::pair<std::string, const char*>>& rows) {
    size_t width = 0;
    for (const auto& row : rows) {
        width = std::max(width, row.first.size());
    }
    for (const auto& row : rows) {
        std::istringstream text(row.second);
        std::string line;
        for (bool first = true; std::getline(text, line); first = false) {
            const std::string left = first ? row.first : "";
            out << "  " << left << std::string(width - left.size() + 2, ' ') << line << "\n";
        }
    }
}

void optionRows(const Option* table, std::vector<std::pair<std::string, const char*>>& list) {
    for (const Option* o = table; o != nullptr && o->name != nullptr; ++o) {
        list.emplace_back(std::string(o->name) + (o->value ? std::string(" ") + o->value : ""),
                          o->help);
    }
}

}  // namespace

void usageFailure(const std::string& message) {
    throw Failure{kUsageStatus, message};
}

Parsed parse(const Program& program, int argc, char** argv, void* settings) {
    if (argc == 2 && (isHelp(argv[1]) || std::strcmp(argv[1], "--version") == 0)) {
        Parsed parsed;
        parsed.help = isHelp(argv[1]);
        parsed.version = !parsed.help;
        return parsed;
    }
    return Parser(program, argc, argv, settings).run();
}

std::string lastValue(const Program& p, int argc, char** argv, const std::string& name) {
    std::string found;
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '-') {
            const char* equals = std::strchr(arg, '=');
            const Option* o = anyOption(p, equals ? std::string(arg, equals) : std::string(arg));
            if (o != nullptr && o->value != nullptr && equals == nullptr && i + 1 < argc) {
                ++i;
            }
            if (o != nullptr && o->value != nullptr && name == o->name) {
                found = equals ? equals + 1 : argv[i];
            }
            continue;
        }
        for (const char* c = arg + 1; *c != '\0'; ++c) {
            const Option* o = anyOption(p, std::string("-") + *c);
            if (o == nullptr || o->value == nullptr) {
                continue;
            }
            const char* value = c[1] != '\0' ? c + 1 : i + 1 < argc ? argv[++i] : "";
            if (name == o->name) {
                found = value;
            }
            break;
        }
    }
    return found;
}

int integer(const char* text, const char* what, int low, int high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        usageFailure(std::string("bad ") + what + " \"" + text + "\"");
    }
    return static_cast<int>(value);
}

std::string usageText(const Program& p) {
    std::ostringstream out;
    out << "usage: " << p.name << " [options] COMMAND [command options] [OPERAND]\n"
        << "       " << p.name << " -h | --help | --version\n"
        << "commands:\n";
    std::vector<std::pair<std::string, const char*>> list;
    for (const Command* c : p.commands) {
        list.emplace_back(std::string(c->name) + (c->operand ? std::string(" ") + c->operand : ""),
                          c->summary);
    }
    rows(out, list);
    out << "options:\n";
    list.clear();
    for (const Option* table : p.general) {
        optionRows(table, list);
    }
    list.emplace_back("-h, --help", "this help");
    list.emplace_back("--version", "the program's version");
    rows(out, list);
    for (const Command* c : p.commands) {
        list.clear();
        optionRows(c->options, list);
        if (!list.empty()) {
            out << c->name << " options:\n";
            rows(out, list);
        }
    }
    out << p.notes << "exit status:\n";
    list.clear();
    for (const Entry& e : p.statuses) {
        list.emplace_back(e.term, e.text);
    }
    rows(out, list);
    return out.str();
}

std::string hint(const Program& p) {
    return std::string("try '") + p.name + " -h' for the commands and options";
}

void writeUsageFailure(const Program& p, const std::string& message) {
    std::cerr << p.name << ": " << message << "\n" << hint(p) << std::endl;
}

}  // namespace cmdline
