// ryxdoc: writes the man page or the bash completion script of ryxdir or
// ryxlab, made from the tables their command lines are parsed with, to
// standard output or to FILE.
#include <fstream>
#include <iostream>
#include <string>

#include "commands.h"
#include "ryxlabcli.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "usage: ryxdoc man|bash ryxdir|ryxlab [FILE]\n";
        return 2;
    }
    const std::string kind = argv[1], name = argv[2];
    const cmdline::Program* program = name == "ryxdir"   ? &ryxdir::program()
                                      : name == "ryxlab" ? &ryxlab::program()
                                                         : nullptr;
    if (program == nullptr || (kind != "man" && kind != "bash")) {
        std::cerr << "ryxdoc: unknown " << (program == nullptr ? "program " + name : kind) << "\n";
        return 2;
    }
    const std::string text =
        kind == "man" ? cmdline::manPage(*program) : cmdline::bashCompletion(*program);
    std::ofstream file;
    if (argc == 4) {
        file.open(argv[3], std::ios::binary | std::ios::trunc);
    }
    std::ostream& out = argc == 4 ? file : std::cout;
    out << text << std::flush;
    if (!out) {
        std::cerr << "ryxdoc: cannot write " << (argc == 4 ? argv[3] : "standard output") << "\n";
        return 1;
    }
    return 0;
}
