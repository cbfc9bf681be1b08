// The man page and the bash completion script, written from the tables that
// the parser and -h use, so that none of them can tell of an option the others
// do not know.
#include <cctype>
#include <sstream>

#include "cmdline.h"

namespace cmdline {

namespace {

// Text for troff: backslashes and hyphens escaped, no line starting as a
// request.
std::string roff(const std::string& text) {
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) {
            out += "\\&";
        }
        out += c == '\\' ? std::string("\\e") : c == '-' ? std::string("\\-") : std::string(1, c);
        lineStart = c == '\n';
    }
    return out;
}

std::string bold(const std::string& text) {
    return "\\fB" + roff(text) + "\\fR";
}
std::string italic(const std::string& text) {
    return "\\fI" + roff(text) + "\\fR";
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

void optionItems(std::ostringstream& out, const Option* table) {
    for (const Option* o = table; o != nullptr && o->name != nullptr; ++o) {
        out << ".TP\n"
            << bold(o->name) << (o->value ? " " + italic(o->value) : "") << "\n"
            << roff(o->help) << "\n";
    }
}

void entries(std::ostringstream& out, const char* title, const std::vector<Entry>& list) {
    if (list.empty()) {
        return;
    }
    out << ".SH " << title << "\n";
    for (const Entry& e : list) {
        out << ".TP\n" << bold(e.term) << "\n" << roff(e.text) << "\n";
    }
}

void paragraphs(std::ostringstream& out, const std::string& text) {
    std::istringstream in(text);
    std::string line;
    out << ".PP\n";
    while (std::getline(in, line)) {
        out << (line.empty() ? ".PP" : roff(line)) << "\n";
    }
}

void synopsis(std::ostringstream& out, const Program& p) {
    out << ".SH SYNOPSIS\n"
        << bold(p.name) << " [" << italic("options") << "] " << italic("COMMAND") << " ["
        << italic("command options") << "] [" << italic("OPERAND") << "]\n.br\n"
        << bold(p.name) << " " << bold("-h") << " | " << bold("--help") << " | "
        << bold("--version") << "\n";
}

void options(std::ostringstream& out, const Program& p) {
    out << ".SH OPTIONS\n";
    for (const Option* table : p.general) {
        optionItems(out, table);
    }
    out << ".TP\n"
        << bold("-h") << ", " << bold("--help") << "\nthe usage, alone on the command line\n"
        << ".TP\n"
        << bold("--version") << "\nthe program's version, alone on the command line\n";
    for (const Command* c : p.commands) {
        if (c->options != nullptr && c->options->name != nullptr) {
            out << ".SS \"" << roff(c->name) << " options\"\n";
            optionItems(out, c->options);
        }
    }
}

void examples(std::ostringstream& out, const Program& p) {
    if (p.examples.empty()) {
        return;
    }
    out << ".SH EXAMPLES\n";
    for (const Entry& e : p.examples) {
        out << ".PP\n" << roff(e.text) << "\n.PP\n.RS\n.nf\n" << roff(e.term) << "\n.fi\n.RE\n";
    }
}

// The words a value takes in the completion: "" for any text, "-f" for files
// and "-d" for folders, else a word list.
std::string completionOf(const Program& p, const char* value) {
    const std::string v = value;
    for (const Entry& e : p.valueWords) {
        if (v == e.term) {
            return e.text;
        }
    }
    if (v.find("DIR") != std::string::npos) {
        return "-d";
    }
    return v.find("FILE") != std::string::npos || v.find("PATH") != std::string::npos ? "-f" : "";
}

// "    -a|-b) words ;;" lines of a case on the previous word.
void valueCases(std::ostringstream& out, const Program& p, const Option* table) {
    for (const Option* o = table; o != nullptr && o->name != nullptr; ++o) {
        if (o->value == nullptr) {
            continue;
        }
        const std::string words = completionOf(p, o->value);
        out << "        " << o->name << ") ";
        if (words == "-f" || words == "-d") {
            out << "COMPREPLY=($(compgen " << words << " -- \"$cur\"))";
        } else if (!words.empty()) {
            out << "COMPREPLY=($(compgen -W '" << words << "' -- \"$cur\"))";
        }
        out << (words.empty() ? "" : "; ") << "return ;;\n";
    }
}

std::string names(const Option* table) {
    std::string out;
    for (const Option* o = table; o != nullptr && o->name != nullptr; ++o) {
        out += std::string(" ") + o->name;
    }
    return out;
}

// Sets command to the command named before the word being completed.
void commandScan(std::ostringstream& out, const Program& p) {
    std::string alternatives;
    for (const Command* c : p.commands) {
        alternatives += (alternatives.empty() ? "" : "|") + std::string(c->name);
    }
    out << "    local command= word\n"
        << "    for word in \"${COMP_WORDS[@]:1:COMP_CWORD-1}\"; do\n"
        << "        case $word in\n"
        << "            " << alternatives << ") command=$word ;;\n"
        << "        esac\n"
        << "    done\n";
}

// Adds the command names before a command, its own options and its operand's
// files or folders after it.
void commandCases(std::ostringstream& out, const Program& p) {
    out << "    case $command in\n"
        << "        '') words+='";
    for (const Command* c : p.commands) {
        out << " " << c->name;
    }
    out << "' ;;\n";
    for (const Command* c : p.commands) {
        const std::string own = names(c->options);
        const std::string operand = c->operand ? completionOf(p, c->operand) : "";
        const bool paths = operand == "-f" || operand == "-d";
        if (own.empty() && !paths) {
            continue;
        }
        out << "        " << c->name << ") words+='" << own << "'";
        if (paths) {
            out << "; [[ $cur != -* ]] && COMPREPLY=($(compgen " << operand << " -- \"$cur\"))";
        }
        out << " ;;\n";
    }
    out << "    esac\n";
}

}  // namespace

std::string manPage(const Program& p) {
    std::ostringstream out;
    out << ".TH " << upper(p.name) << " 1 \"\" \"" << p.name << " " << p.version
        << "\" \"User Commands\"\n"
        << ".SH NAME\n"
        << roff(p.name) << " \\- " << roff(p.summary) << "\n";
    synopsis(out, p);
    out << ".SH DESCRIPTION\n";
    paragraphs(out, p.description);
    paragraphs(out, p.notes);
    out << ".SH COMMANDS\n";
    for (const Command* c : p.commands) {
        out << ".TP\n"
            << bold(c->name) << (c->operand ? " " + italic(c->operand) : "") << "\n"
            << roff(c->summary) << "\n";
    }
    options(out, p);
    entries(out, "ENVIRONMENT", p.environment);
    entries(out, "FILES", p.files);
    entries(out, "EXIT STATUS", p.statuses);
    examples(out, p);
    out << ".SH SEE ALSO\n" << roff(p.seeAlso) << "\n";
    return out.str();
}

std::string bashCompletion(const Program& p) {
    std::string general = "-h --help --version";
    for (const Option* table : p.general) {
        general += names(table);
    }
    std::ostringstream out;
    out << "# bash completion for " << p.name << "\n"
        << "_" << p.name << "() {\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n";
    commandScan(out, p);
    out << "    COMPREPLY=()\n"
        << "    case $prev in\n";
    for (const Option* table : p.general) {
        valueCases(out, p, table);
    }
    for (const Command* c : p.commands) {
        valueCases(out, p, c->options);
    }
    out << "    esac\n"
        << "    local words='" << general << "'\n";
    commandCases(out, p);
    out << "    COMPREPLY+=($(compgen -W \"$words\" -- \"$cur\"))\n"
        << "}\n"
        << "complete -F _" << p.name << " " << p.name << "\n";
    return out.str();
}

}  // namespace cmdline
