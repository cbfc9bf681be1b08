// Writes the seed corpus of crl_fuzz into the folder given.
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "crlbuild.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crl_seeds FOLDER\n");
        return 2;
    }
    try {
        for (const auto& [name, der] : crlbuild::seeds()) {
            std::ofstream out(std::string(argv[1]) + "/" + name + ".der", std::ios::binary);
            out.write(reinterpret_cast<const char*>(der.data()),
                      static_cast<std::streamsize>(der.size()));
            if (!out)
                throw std::runtime_error("cannot write seed " + name);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crl_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
