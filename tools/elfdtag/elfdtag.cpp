#include "elfdtag.h"

#include <elf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace elfdtag {
namespace {

[[noreturn]] void fail(const std::string& message) {
    throw Failure{message};
}

// A structure of the file as it is stored there: its fields are in the file's
// byte order, which get() turns into the build machine's.
template <class T>
T readAt(const std::vector<unsigned char>& image, uint64_t offset) {
    if (offset > image.size() || image.size() - offset < sizeof(T)) {
        fail("truncated file (read past the end at offset " + std::to_string(offset) + ")");
    }
    T value;
    std::memcpy(&value, image.data() + offset, sizeof(T));
    return value;
}

class ByteOrder {
  public:
    explicit ByteOrder(bool swap) : m_swap(swap) {}
    template <class T>
    T get(T value) const {
        if (m_swap) {
            unsigned char* bytes = reinterpret_cast<unsigned char*>(&value);
            std::reverse(bytes, bytes + sizeof value);
        }
        return value;
    }

  private:
    bool m_swap;
};

template <class Ehdr, class Phdr, class Dyn>
void rewriteAs(std::vector<unsigned char>& image, const std::string& expected, ByteOrder order) {
    const Ehdr header = readAt<Ehdr>(image, 0);
    if (order.get(header.e_type) != ET_DYN) {
        fail("not a shared object");
    }
    if (order.get(header.e_phentsize) != sizeof(Phdr)) {
        fail("unexpected program header size");
    }
    const uint64_t phoff = order.get(header.e_phoff);
    const unsigned phnum = order.get(header.e_phnum);
    auto programHeader = [&](unsigned i) {
        return readAt<Phdr>(image, phoff + uint64_t(i) * sizeof(Phdr));
    };

    uint64_t dynOffset = 0;
    uint64_t dynSize = 0;
    bool found = false;
    for (unsigned i = 0; i < phnum; ++i) {
        const Phdr ph = programHeader(i);
        if (order.get(ph.p_type) == PT_DYNAMIC) {
            dynOffset = order.get(ph.p_offset);
            dynSize = order.get(ph.p_filesz);
            found = true;
        }
    }
    if (!found) {
        fail("no dynamic segment");
    }

    uint64_t strtab = 0;
    uint64_t strsz = 0;
    std::vector<uint64_t> auxiliary;
    bool hasRpath = false;
    for (uint64_t off = dynOffset; off - dynOffset + sizeof(Dyn) <= dynSize; off += sizeof(Dyn)) {
        const Dyn d = readAt<Dyn>(image, off);
        const int64_t tag = order.get(d.d_tag);
        if (tag == DT_NULL) {
            break;
        }
        if (tag == DT_STRTAB) {
            strtab = order.get(d.d_un.d_ptr);
        } else if (tag == DT_STRSZ) {
            strsz = order.get(d.d_un.d_val);
        } else if (tag == DT_AUXILIARY) {
            auxiliary.push_back(off);
        } else if (tag == DT_RPATH) {
            hasRpath = true;
        }
    }
    if (hasRpath) {
        fail("already has a DT_RPATH entry");
    }
    if (auxiliary.size() != 1) {
        fail("expected exactly one DT_AUXILIARY entry, found " + std::to_string(auxiliary.size()));
    }
    if (strtab == 0 || strsz == 0) {
        fail("no dynamic string table");
    }

    // File offset of the string table, through the loadable segments.
    uint64_t strtabOffset = 0;
    found = false;
    for (unsigned i = 0; i < phnum && !found; ++i) {
        const Phdr ph = programHeader(i);
        const uint64_t vaddr = order.get(ph.p_vaddr);
        if (order.get(ph.p_type) == PT_LOAD && strtab >= vaddr &&
            strtab - vaddr < order.get(ph.p_filesz)) {
            strtabOffset = order.get(ph.p_offset) + (strtab - vaddr);
            found = true;
        }
    }
    if (!found) {
        fail("address " + std::to_string(strtab) + " is in no loadable segment");
    }

    Dyn entry = readAt<Dyn>(image, auxiliary[0]);
    const uint64_t nameOffset = order.get(entry.d_un.d_val);
    if (nameOffset >= strsz) {
        fail("DT_AUXILIARY string offset is outside the string table");
    }
    const uint64_t stringAt = strtabOffset + nameOffset;
    if (stringAt >= image.size()) {
        fail("DT_AUXILIARY string is outside the file");
    }
    const char* text = reinterpret_cast<const char*>(image.data() + stringAt);
    const size_t room = image.size() - stringAt;
    const size_t length = strnlen(text, room);
    if (length == room) {
        fail("DT_AUXILIARY string is not terminated");
    }
    const std::string value(text, length);
    if (value != expected) {
        fail("DT_AUXILIARY string is \"" + value + "\", expected \"" + expected + "\"");
    }

    // Only the tag of that one entry changes, stored in the file's byte order.
    entry.d_tag = order.get(static_cast<decltype(entry.d_tag)>(DT_RPATH));
    std::memcpy(image.data() + auxiliary[0], &entry, sizeof entry);
}

bool buildMachineIsBigEndian() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 0;
}

}  // namespace

void rewrite(std::vector<unsigned char>& image, const std::string& expected) {
    if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0) {
        fail("not an ELF file");
    }
    const unsigned char data = image[EI_DATA];
    if (data != ELFDATA2LSB && data != ELFDATA2MSB) {
        fail("unknown byte order " + std::to_string(data));
    }
    const ByteOrder order((data == ELFDATA2MSB) != buildMachineIsBigEndian());
    switch (image[EI_CLASS]) {
        case ELFCLASS32:
            rewriteAs<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn>(image, expected, order);
            break;
        case ELFCLASS64:
            rewriteAs<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn>(image, expected, order);
            break;
        default:
            fail("unknown ELF class " + std::to_string(image[EI_CLASS]));
    }
}

}  // namespace elfdtag
