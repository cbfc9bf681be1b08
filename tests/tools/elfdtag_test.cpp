// elfdtag on made-up shared objects of every ELF class and byte order: the one
// DT_AUXILIARY entry becomes DT_RPATH in the file's own byte order, and every
// refusal leaves the image as it was.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "elfdtag.h"
#include "runprogram.h"

namespace {

using Image = std::vector<unsigned char>;
using Entries = std::vector<std::pair<int64_t, uint64_t>>;  // tag, value

const char kStrings[] = "\0$ORIGIN\0/opt/lib";  // offsets 1 and 9

template <class T>
void append(Image& image, const T& value) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&value);
    image.insert(image.end(), bytes, bytes + sizeof value);
}

// A shared object: ELF header, a loadable segment over the whole file, the
// dynamic segment (the entries, then DT_NULL) and the string table; every field
// at the width of its class, in the byte order asked for.
template <class Ehdr, class Phdr, class Dyn>
Image build(bool bigEndian, const Entries& entries, uint16_t type) {
    const uint16_t probe = 1;
    const bool swap = bigEndian == (*reinterpret_cast<const unsigned char*>(&probe) == 1);
    const auto set = [swap](auto& field, uint64_t value) {
        auto v = static_cast<std::remove_reference_t<decltype(field)>>(value);
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&v);
        if (swap)
            std::reverse(bytes, bytes + sizeof v);
        field = v;
    };
    const uint64_t dynAt = sizeof(Ehdr) + 2 * sizeof(Phdr);
    const uint64_t strAt = dynAt + (entries.size() + 1) * sizeof(Dyn);
    Ehdr h{};
    std::memcpy(h.e_ident, ELFMAG, SELFMAG);
    h.e_ident[EI_CLASS] = sizeof(Ehdr) == sizeof(Elf32_Ehdr) ? ELFCLASS32 : ELFCLASS64;
    h.e_ident[EI_DATA] = bigEndian ? ELFDATA2MSB : ELFDATA2LSB;
    h.e_ident[EI_VERSION] = EV_CURRENT;
    set(h.e_type, type);
    set(h.e_version, EV_CURRENT);
    set(h.e_phoff, sizeof(Ehdr));
    set(h.e_ehsize, sizeof(Ehdr));
    set(h.e_phentsize, sizeof(Phdr));
    set(h.e_phnum, 2);
    Phdr load{}, dynamic{};
    set(load.p_type, PT_LOAD);
    set(load.p_filesz, strAt + sizeof kStrings);
    load.p_memsz = load.p_filesz;
    set(dynamic.p_type, PT_DYNAMIC);
    set(dynamic.p_offset, dynAt);
    dynamic.p_vaddr = dynamic.p_offset;
    set(dynamic.p_filesz, strAt - dynAt);
    dynamic.p_memsz = dynamic.p_filesz;
    Image image;
    append(image, h);
    append(image, load);
    append(image, dynamic);
    for (const auto& e : entries) {
        Dyn d{};
        set(d.d_tag, static_cast<uint64_t>(e.first));
        set(d.d_un.d_val, e.first == DT_STRTAB ? strAt : e.second);
        append(image, d);
    }
    append(image, Dyn{});  // DT_NULL
    image.insert(image.end(), kStrings, kStrings + sizeof kStrings);
    return image;
}

// Layouts 0 to 3: 32 or 64 bits (bit 1), little or big endian (bit 0).
Image build(int layout, const Entries& entries, uint16_t type = ET_DYN) {
    return layout & 2 ? build<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn>(layout & 1, entries, type)
                      : build<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn>(layout & 1, entries, type);
}

// Entries as "TAG=value" words; STRSZ takes the table's size, STRTAB its offset.
Entries entriesOf(const std::string& words) {
    const std::map<std::string, uint64_t> names = {
        {"STRTAB", DT_STRTAB}, {"STRSZ", DT_STRSZ},         {"NEEDED", DT_NEEDED},
        {"RPATH", DT_RPATH},   {"AUXILIARY", DT_AUXILIARY}, {"ORIGIN", 1},
        {"OTHER", 9},          {"PAST", sizeof kStrings}};
    Entries entries;
    std::istringstream in(words);
    for (std::string w; in >> w;) {
        const size_t eq = w.find('=');
        const int64_t tag = static_cast<int64_t>(names.at(w.substr(0, eq)));
        entries.emplace_back(tag, tag == DT_STRSZ           ? sizeof kStrings
                                  : eq == std::string::npos ? 0
                                                            : names.at(w.substr(eq + 1)));
    }
    return entries;
}

TEST(Elfdtag, RewritesOrRefusesLeavingTheImageAlone) {
    for (const auto& c : spawntest::readCases(RYX_TOOLS_CASES "/elfdtag.tsv")) {
        const bool refused = c[3].find('=') == std::string::npos;
        for (int layout = 0; layout < 4; ++layout) {
            SCOPED_TRACE(std::to_string(layout) + " (bit 1: 64 bits, bit 0: big endian): " + c[3]);
            Image image = build(layout, entriesOf(c[0]), c[1] == "DYN" ? ET_DYN : ET_EXEC);
            if (!c[2].empty())
                image.resize(std::stoul(c[2]));
            const Image before = image;
            try {
                elfdtag::rewrite(image, "$ORIGIN");
                EXPECT_FALSE(refused) << "no failure";
                EXPECT_EQ(image, build(layout, entriesOf(c[3])));
            } catch (const elfdtag::Failure& f) {
                EXPECT_NE(f.message.find(c[3]), std::string::npos) << f.message;
                EXPECT_EQ(image, before);
            }
        }
    }
}

}  // namespace
