// elfdtag on made-up shared objects of every ELF class and byte order: the one
// DT_AUXILIARY entry becomes DT_RPATH in the file's own byte order, and every
// refusal leaves the image as it was.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "elfdtag.h"

namespace {

typedef std::vector<unsigned char> Image;
typedef std::vector<std::pair<int64_t, uint64_t>> Entries;  // tag, value

struct Layout {
    unsigned char elfClass;
    unsigned char data;
};
const Layout kLayouts[] = {{ELFCLASS32, ELFDATA2MSB},
                           {ELFCLASS32, ELFDATA2LSB},
                           {ELFCLASS64, ELFDATA2MSB},
                           {ELFCLASS64, ELFDATA2LSB}};

const char kStrings[] = "\0$ORIGIN\0/opt/lib";  // offsets 1 and 9
const uint64_t kOrigin = 1;
const uint64_t kOther = 9;

bool littleEndianMachine() {
    const uint16_t probe = 1;
    unsigned char first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

template <class T>
void put(Image& image, const T& value, bool swap) {
    T copy = value;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&copy);
    if (swap)
        std::reverse(bytes, bytes + sizeof copy);
    image.insert(image.end(), bytes, bytes + sizeof copy);
}

// A shared object of ELF header, a loadable segment over the whole file, the
// dynamic segment (the entries, then DT_NULL) and the string table. Every field
// is written in the layout's byte order; the fields are filled one by one so
// that each has the width of its class.
template <class Ehdr, class Phdr, class Dyn>
Image build(const Layout& layout, const Entries& entries, uint16_t type) {
    const bool swap = (layout.data == ELFDATA2LSB) != littleEndianMachine();
    const uint64_t dynAt = sizeof(Ehdr) + 2 * sizeof(Phdr);
    const uint64_t dynSize = (entries.size() + 1) * sizeof(Dyn);
    const uint64_t strAt = dynAt + dynSize;
    const uint64_t total = strAt + sizeof kStrings;

    Image image;
    Ehdr h{};
    std::memcpy(h.e_ident, ELFMAG, SELFMAG);
    h.e_ident[EI_CLASS] = layout.elfClass;
    h.e_ident[EI_DATA] = layout.data;
    h.e_ident[EI_VERSION] = EV_CURRENT;
    auto fix = [swap](auto v) {
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&v);
        if (swap)
            std::reverse(bytes, bytes + sizeof v);
        return v;
    };
    h.e_type = fix(type);
    h.e_version = fix(decltype(h.e_version)(EV_CURRENT));
    h.e_phoff = fix(decltype(h.e_phoff)(sizeof(Ehdr)));
    h.e_ehsize = fix(decltype(h.e_ehsize)(sizeof(Ehdr)));
    h.e_phentsize = fix(decltype(h.e_phentsize)(sizeof(Phdr)));
    h.e_phnum = fix(decltype(h.e_phnum)(2));
    put(image, h, false);

    Phdr load{}, dynamic{};
    load.p_type = fix(decltype(load.p_type)(PT_LOAD));
    load.p_filesz = load.p_memsz = fix(decltype(load.p_filesz)(total));
    dynamic.p_type = fix(decltype(dynamic.p_type)(PT_DYNAMIC));
    dynamic.p_offset = dynamic.p_vaddr = fix(decltype(dynamic.p_offset)(dynAt));
    dynamic.p_filesz = dynamic.p_memsz = fix(decltype(dynamic.p_filesz)(dynSize));
    put(image, load, false);
    put(image, dynamic, false);

    Entries all = entries;
    all.push_back({DT_NULL, 0});
    for (const auto& e : all) {
        Dyn d{};
        d.d_tag = static_cast<decltype(d.d_tag)>(e.first);
        d.d_un.d_val = static_cast<decltype(d.d_un.d_val)>(e.first == DT_STRTAB ? strAt : e.second);
        put(image, d.d_tag, swap);
        put(image, d.d_un.d_val, swap);
    }
    image.insert(image.end(), kStrings, kStrings + sizeof kStrings);
    return image;
}

Image build(const Layout& layout, const Entries& entries, uint16_t type = ET_DYN) {
    return layout.elfClass == ELFCLASS32
               ? build<Elf32_Ehdr, Elf32_Phdr, Elf32_Dyn>(layout, entries, type)
               : build<Elf64_Ehdr, Elf64_Phdr, Elf64_Dyn>(layout, entries, type);
}

std::string name(const Layout& layout) {
    return std::string(layout.elfClass == ELFCLASS32 ? "ELF32" : "ELF64") +
           (layout.data == ELFDATA2MSB ? " big-endian" : " little-endian");
}

const Entries kTable = {{DT_STRTAB, 0}, {DT_STRSZ, sizeof kStrings}};

Entries with(Entries entries, const Entries& more) {
    entries.insert(entries.end(), more.begin(), more.end());
    return entries;
}

TEST(Elfdtag, TurnsTheAuxiliaryEntryIntoRpathInEveryLayout) {
    for (const Layout& layout : kLayouts) {
        SCOPED_TRACE(name(layout));
        Image image = build(layout, with(kTable, {{DT_NEEDED, kOther}, {DT_AUXILIARY, kOrigin}}));
        ASSERT_NO_THROW(elfdtag::rewrite(image, "$ORIGIN"));
        EXPECT_EQ(image, build(layout, with(kTable, {{DT_NEEDED, kOther}, {DT_RPATH, kOrigin}})));
    }
}

TEST(Elfdtag, RefusesWithAMessageAndLeavesTheImageAlone) {
    struct Case {
        const char* what;
        Entries entries;
        uint16_t type;
        size_t keep;  // bytes kept of the image, 0 for all
        const char* message;
    };
    const Case cases[] = {
        {"other string", with(kTable, {{DT_AUXILIARY, kOther}}), ET_DYN, 0,
         "DT_AUXILIARY string is \"/opt/lib\", expected \"$ORIGIN\""},
        {"two auxiliary", with(kTable, {{DT_AUXILIARY, kOrigin}, {DT_AUXILIARY, kOrigin}}), ET_DYN,
         0, "expected exactly one DT_AUXILIARY entry, found 2"},
        {"no auxiliary", kTable, ET_DYN, 0, "expected exactly one DT_AUXILIARY entry, found 0"},
        {"has rpath", with(kTable, {{DT_AUXILIARY, kOrigin}, {DT_RPATH, kOrigin}}), ET_DYN, 0,
         "already has a DT_RPATH entry"},
        {"no string table", {{DT_AUXILIARY, kOrigin}}, ET_DYN, 0, "no dynamic string table"},
        {"string past the table", with(kTable, {{DT_AUXILIARY, sizeof kStrings}}), ET_DYN, 0,
         "DT_AUXILIARY string offset is outside the string table"},
        {"executable", with(kTable, {{DT_AUXILIARY, kOrigin}}), ET_EXEC, 0, "not a shared object"},
        {"truncated", with(kTable, {{DT_AUXILIARY, kOrigin}}), ET_DYN, 60, "truncated file"},
        {"not ELF", kTable, ET_DYN, 3, "not an ELF file"},
    };
    for (const Layout& layout : kLayouts) {
        for (const Case& c : cases) {
            SCOPED_TRACE(name(layout) + ": " + c.what);
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
