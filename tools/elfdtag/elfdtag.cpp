// elfdtag: rewrites, in place, the DT_AUXILIARY entry of a shared object's
// dynamic section into a DT_RPATH entry, after checking that its string is the
// expected run path. The linker writes only one of DT_RUNPATH and DT_RPATH; the
// plug-in is linked with a DT_RUNPATH and an auxiliary entry naming the same
// path, and this tool turns the auxiliary entry into the library run path.
//
//   elfdtag FILE EXPECTED-PATH
//
// Exit status 0 on success, 1 on any failure (with a one-line message).
// Handles ELF64 little-endian files only and says so for any other kind.
#include <elf.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) {
    throw Failure{message};
}

template <class T>
T readAt(const std::vector<unsigned char>& image, uint64_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) {
        fail("truncated file (read past the end at offset " + std::to_string(offset) + ")");
    }
    T value;
    std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

// File offset of a virtual address, through the program's loadable segments.
uint64_t offsetOfAddress(const std::vector<unsigned char>& image, const Elf64_Ehdr& header,
                         uint64_t address) {
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr ph =
            readAt<Elf64_Phdr>(image, header.e_phoff + uint64_t(i) * header.e_phentsize);
        if (ph.p_type == PT_LOAD && address >= ph.p_vaddr && address - ph.p_vaddr < ph.p_filesz) {
            return ph.p_offset + (address - ph.p_vaddr);
        }
    }
    fail("address " + std::to_string(address) + " is in no loadable segment");
}

void rewrite(const std::string& path, const std::string& expected) {
    std::vector<unsigned char> image;
    {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            fail("cannot open " + path + ": " + std::strerror(errno));
        }
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0) {
        fail(path + " is not an ELF file");
    }
    if (image[EI_CLASS] != ELFCLASS64) {
        fail(path + ": only ELF64 files are supported");
    }
    if (image[EI_DATA] != ELFDATA2LSB) {
        fail(path + ": only little-endian ELF files are supported");
    }
    Elf64_Ehdr header = readAt<Elf64_Ehdr>(image, 0);
    if (header.e_type != ET_DYN) {
        fail(path + " is not a shared object");
    }
    if (header.e_phentsize != sizeof(Elf64_Phdr)) {
        fail(path + ": unexpected program header size");
    }

    // The dynamic segment.
    uint64_t dynOffset = 0;
    uint64_t dynSize = 0;
    bool found = false;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr ph =
            readAt<Elf64_Phdr>(image, header.e_phoff + uint64_t(i) * header.e_phentsize);
        if (ph.p_type == PT_DYNAMIC) {
            dynOffset = ph.p_offset;
            dynSize = ph.p_filesz;
            found = true;
        }
    }
    if (!found) {
        fail(path + " has no dynamic segment");
    }

    uint64_t strtab = 0;
    uint64_t strsz = 0;
    std::vector<uint64_t> auxiliary;
    bool hasRpath = false;
    for (uint64_t off = dynOffset; off + sizeof(Elf64_Dyn) <= dynOffset + dynSize;
         off += sizeof(Elf64_Dyn)) {
        Elf64_Dyn d = readAt<Elf64_Dyn>(image, off);
        if (d.d_tag == DT_NULL) {
            break;
        }
        if (d.d_tag == DT_STRTAB) {
            strtab = d.d_un.d_ptr;
        } else if (d.d_tag == DT_STRSZ) {
            strsz = d.d_un.d_val;
        } else if (d.d_tag == DT_AUXILIARY) {
            auxiliary.push_back(off);
        } else if (d.d_tag == DT_RPATH) {
            hasRpath = true;
        }
    }
    if (hasRpath) {
        fail(path + " already has a DT_RPATH entry");
    }
    if (auxiliary.size() != 1) {
        fail(path + ": expected exactly one DT_AUXILIARY entry, found " +
             std::to_string(auxiliary.size()));
    }
    if (strtab == 0 || strsz == 0) {
        fail(path + " has no dynamic string table");
    }

    Elf64_Dyn entry = readAt<Elf64_Dyn>(image, auxiliary[0]);
    uint64_t nameOffset = entry.d_un.d_val;
    if (nameOffset >= strsz) {
        fail(path + ": DT_AUXILIARY string offset is outside the string table");
    }
    uint64_t stringAt = offsetOfAddress(image, header, strtab) + nameOffset;
    if (stringAt >= image.size()) {
        fail(path + ": DT_AUXILIARY string is outside the file");
    }
    const char* text = reinterpret_cast<const char*>(image.data() + stringAt);
    size_t room = image.size() - stringAt;
    size_t length = strnlen(text, room);
    if (length == room) {
        fail(path + ": DT_AUXILIARY string is not terminated");
    }
    std::string value(text, length);
    if (value != expected) {
        fail(path + ": DT_AUXILIARY string is \"" + value + "\", expected \"" + expected + "\"");
    }

    // Only the tag of that one entry changes; the file keeps its mode and owner.
    entry.d_tag = DT_RPATH;
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    if (!file) {
        fail("cannot open " + path + " for writing: " + std::strerror(errno));
    }
    file.seekp(static_cast<std::streamoff>(auxiliary[0]));
    file.write(reinterpret_cast<const char*>(&entry), sizeof entry);
    file.close();
    if (!file) {
        fail("cannot write " + path);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: elfdtag FILE EXPECTED-PATH\n";
        return 1;
    }
    try {
        rewrite(argv[1], argv[2]);
    } catch (const Failure& f) {
        std::cerr << "elfdtag: " << f.message << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "elfdtag: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
