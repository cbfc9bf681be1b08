// elfdtag on made-up shared objects of every ELF class and byte order: the one
// DT_AUXILIARY entry becomes DT_RPATH in the file's own byte order, and every
// refusal leaves the image as it was.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "elfdtag.h"

namespace {

using Image = std::vector<unsigned char>;
using Entries = std::vector<std::pair<int64_t, uint64_t>>;  // tag, value

const char kStrings[] = "\0$ORIGIN\0/opt/lib";  // offsets 1 and 9
const uint64_t kOrigin = 1;
const uint64_t kOther = 9;

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

std::string name(int layout) {
    return std::string(layout & 2 ? "ELF64" : "ELF32") + (layout & 1 ? " big" : " little");
}

Entries table(const Entries& more) {
    Entries entries = {{DT_STRTAB, 0}, {DT_STRSZ, sizeof kStrings}};
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

TEST(Elfdtag, TurnsTheAuxiliaryEntryIntoRpathInEveryLayout) {
    for (int layout = 0; layout < 4; ++layout) {
        Image image = build(layout, table({{DT_NEEDED, kOther}, {DT_AUXILIARY, kOrigin}}));
        ASSERT_NO_THROW(elfdtag::rewrite(image, "$ORIGIN")) << name(layout);
        EXPECT_EQ(image, build(layout, table({{DT_NEEDED, kOther}, {DT_RPATH, kOrigin}})))
            << name(layout);
    }
}

TEST(Elfdtag, RefusesWithAMessageAndLeavesTheImageAlone) {
    const Entries aux = table({{DT_AUXILIARY, kOrigin}});
    const struct {
        Entries entries;
        uint16_t type;
        size_t keep;  // bytes kept of the image, 0 for all
        const char* message;
    } cases[] = {
        {table({{DT_AUXILIARY, kOther}}), ET_DYN, 0,
         "DT_AUXILIARY string is \"/opt/lib\", expected \"$ORIGIN\""},
        {table({{DT_AUXILIARY, kOrigin}, {DT_AUXILIARY, kOrigin}}), ET_DYN, 0,
         "expected exactly one DT_AUXILIARY entry, found 2"},
        {table({}), ET_DYN, 0, "expected exactly one DT_AUXILIARY entry, found 0"},
        {table({{DT_AUXILIARY, kOrigin}, {DT_RPATH, kOrigin}}), ET_DYN, 0,
         "already has a DT_RPATH entry"},
        {{{DT_AUXILIARY, kOrigin}}, ET_DYN, 0, "no dynamic string table"},
        {table({{DT_AUXILIARY, sizeof kStrings}}), ET_DYN, 0,
         "DT_AUXILIARY string offset is outside the string table"},
        {aux, ET_EXEC, 0, "not a shared object"},
        {aux, ET_DYN, 60, "truncated file"},
        {aux, ET_DYN, 3, "not an ELF file"},
    };
    for (int layout = 0; layout < 4; ++layout) {
        for (const auto& c : cases) {
            SCOPED_TRACE(name(layout) + ": " + c.message);
            Image image = build(layout, c.entries, c.type);
            if (c.keep != 0)
                image.resize(c.keep);
            const Image before = image;
            try {
                elfdtag::rewrite(image, "$ORIGIN");
                ADD_FAILURE() << "no failure";
            } catch (const elfdtag::Failure& f) {
                EXPECT_NE(f.message.find(c.message), std::string::npos) << f.message;
            }
            EXPECT_EQ(image, before);
        }
    }
}

}  // namespace
