// elfdtag: post-link step of the plug-in. The linker writes only one of
// DT_RUNPATH and DT_RPATH; the plug-in is linked with a DT_RUNPATH and an
// auxiliary entry naming the same path, and this tool turns the auxiliary entry
// into the library run path, in place.
//
//   elfdtag FILE EXPECTED-PATH
//
// Exit status 0 on success, 1 on any failure (with a one-line message).
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "elfdtag.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: elfdtag FILE EXPECTED-PATH\n";
        return 1;
    }
    const std::string path = argv[1];
    try {
        std::vector<unsigned char> image;
        {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                throw elfdtag::Failure{std::string("cannot open: ") + std::strerror(errno)};
            }
            image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        elfdtag::rewrite(image, argv[2]);
        // Written over the same file, which keeps its mode and owner.
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        if (!file) {
            throw elfdtag::Failure{std::string("cannot open for writing: ") + std::strerror(errno)};
        }
        file.write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        file.close();
        if (!file) {
            throw elfdtag::Failure{"cannot write"};
        }
    } catch (const elfdtag::Failure& f) {
        std::cerr << "elfdtag: " << path << ": " << f.message << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "elfdtag: " << path << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
