// Differential libFuzzer target for revocation lists: every input goes to the
// host's scanner and RYXASNCertificateList and to OpenSSL's d2i_X509_CRL, which
// must agree (crlcompare::check).
//
// The custom mutator edits the encoding as a tree of BER elements (length forms,
// high tag numbers, constructed strings, elements moved, repeated or dropped; a
// changed tag is left to libFuzzer's own byte mutations), so that both the
// strict DER the scanner takes and the encodings OpenSSL tolerates but DER
// forbids are reached from the seeds, not only byte noise.
#include <openssl/asn1.h>
#include <openssl/err.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "crlcompare.h"
#include "fuzzcheck.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string difference = crlcompare::check(data, size);
    require(difference.empty(), difference.c_str());
    return 0;
}

namespace {

using Bytes = std::vector<unsigned char>;

// One BER element as read: identifier octets, how its length is written, and
// either the elements inside (when they parse) or the raw content.
struct Element {
    Bytes identifier;
    int padding = 0;  // leading zero octets of a long-form length; -1: indefinite
    bool parsed = false;
    std::vector<Element> children;
    Bytes content;
    bool constructed() const { return (identifier[0] & 0x20) != 0; }
};

bool parse(const unsigned char*& p, const unsigned char* end, Element& e, int depth);

// Elements up to end, or up to end-of-contents when indefinite.
bool parseChildren(const unsigned char*& p, const unsigned char* end, bool indefinite,
                   std::vector<Element>& children, int depth) {
    while (p < end) {
        if (indefinite && end - p >= 2 && p[0] == 0 && p[1] == 0) {
            p += 2;
            return true;
        }
        children.emplace_back();
        if (!parse(p, end, children.back(), depth + 1))
            return false;
    }
    return !indefinite;
}

// The header by OpenSSL's reader (which takes padded and high-tag forms and
// refuses an indefinite primitive); the identifier octets kept as written.
bool parse(const unsigned char*& p, const unsigned char* end, Element& e, int depth) {
    const unsigned char* start = p;
    long length = 0;
    int tag = 0, xclass = 0;
    const int got = depth > 24 || p >= end
                        ? 0x80
                        : ASN1_get_object(&p, &length, &tag, &xclass, static_cast<long>(end - p));
    ERR_clear_error();
    if (got & 0x80)
        return false;
    size_t octets = 1;
    while ((start[0] & 0x1f) == 0x1f && (start[octets++] & 0x80)) {
    }
    e.identifier.assign(start, start + octets);
    if (got & 1) {  // indefinite
        e.padding = -1;
        return e.parsed = parseChildren(p, end, true, e.children, depth);
    }
    const unsigned char* inner = p;
    e.parsed = e.constructed() && parseChildren(inner, p + length, false, e.children, depth);
    if (!e.parsed) {
        e.children.clear();
        e.content.assign(p, p + length);
    }
    p += length;
    return true;
}

void write(const Element& e, Bytes& out) {
    Bytes body = e.content;
    if (e.parsed) {
        body.clear();
        for (const Element& child : e.children)
            write(child, body);
    }
    out.insert(out.end(), e.identifier.begin(), e.identifier.end());
    if (e.padding < 0) {
        out.push_back(0x80);
        body.insert(body.end(), {0, 0});
    } else if (body.size() < 0x80 && e.padding == 0) {
        out.push_back(static_cast<unsigned char>(body.size()));
    } else {
        Bytes octets(static_cast<size_t>(e.padding), 0);
        for (size_t n = body.size(), at = octets.size(); n > 0; n >>= 8)
            octets.insert(octets.begin() + static_cast<long>(at), static_cast<unsigned char>(n));
        out.push_back(static_cast<unsigned char>(0x80 | octets.size()));
        out.insert(out.end(), octets.begin(), octets.end());
    }
    out.insert(out.end(), body.begin(), body.end());
}

void collect(Element& e, std::vector<Element*>& all) {
    all.push_back(&e);
    for (Element& child : e.children)
        collect(child, all);
}

// Elements worth dropping in anywhere (end-of-contents, NULL, zero, empty
// string and containers, a boolean, a UTF8String, a context tag, an empty
// time), and contents that strings and times must refuse.
const std::vector<Bytes> kSmall = {
    {0x00, 0x00}, {0x05, 0x00},       {0x02, 0x01, 0x00}, {0x04, 0x00}, {0x30, 0x00},
    {0x31, 0x00}, {0x01, 0x01, 0x00}, {0x0c, 0x01, 0x41}, {0xa0, 0x00}, {0x17, 0x00}};
const std::string kOdd[] = {
    {"\xc0\x80", 2},   {"\xed\xa0\x80", 3}, {"\xf4\x90\x80\x80", 4}, {"\xd8\0", 2},
    {"\0\0\xd8\0", 4}, {"\x80", 1},         {"9912312359Z", 11},     {"", 0}};

void mutate(Element& e, const std::vector<Element*>& all, std::minstd_rand& rng) {
    const auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    switch (pick(10)) {
        case 0:  // indefinite length, or back to definite
            e.padding = e.padding < 0 || !e.constructed() || !e.parsed ? 0 : -1;
            break;
        case 1:  // long-form length with leading zeros
            e.padding = static_cast<int>(pick(4));
            break;
        case 2:  // the same tag number in high-tag form, perhaps padded
            if ((e.identifier[0] & 0x1f) != 0x1f) {
                const unsigned char tag = e.identifier[0] & 0x1f;
                e.identifier = {static_cast<unsigned char>(e.identifier[0] | 0x1f)};
                if (pick(2) == 0)
                    e.identifier.push_back(0x80);
                e.identifier.push_back(tag);
            }
            break;
        case 3:  // a primitive string as constructed pieces
            if (!e.parsed && !e.constructed()) {
                e.identifier[0] |= 0x20;
                e.parsed = true;
                size_t at = 0;
                do {
                    Element& piece = e.children.emplace_back();
                    piece.identifier = {static_cast<unsigned char>(pick(3) ? 0x0c : 0x04)};
                    const size_t n = std::min(e.content.size() - at, 1 + pick(4));
                    piece.content.assign(e.content.begin() + at, e.content.begin() + at + n);
                    at += n;
                } while (at < e.content.size());
            }
            break;
        case 4:  // an element inside dropped, repeated or swapped
            if (e.parsed && !e.children.empty()) {
                const size_t i = pick(e.children.size());
                if (pick(3) == 0)
                    e.children.erase(e.children.begin() + static_cast<long>(i));
                else if (pick(2) == 0)
                    e.children.insert(e.children.begin() + static_cast<long>(i), e.children[i]);
                else
                    std::swap(e.children[i], e.children[pick(e.children.size())]);
            }
            break;
        case 5:  // a small element dropped in
            if (e.parsed) {
                const Bytes& small = kSmall[pick(kSmall.size())];
                const unsigned char* p = small.data();
                Element child;
                if (parse(p, small.data() + small.size(), child, 0))
                    e.children.insert(
                        e.children.begin() + static_cast<long>(pick(e.children.size() + 1)), child);
            }
            break;
        case 6:  // content bytes mutated
            if (!e.parsed) {
                e.content.resize(e.content.size() + 8);
                e.content.resize(
                    LLVMFuzzerMutate(e.content.data(), e.content.size() - 8, e.content.size()));
            }
            break;
        case 7:  // an integer padded
            if (!e.parsed && !e.content.empty())
                e.content.insert(e.content.begin(), pick(2) == 0 ? 0x00 : 0xff);
            break;
        case 8:  // odd content
            if (!e.parsed) {
                const std::string& odd = kOdd[pick(std::size(kOdd))];
                e.content.assign(odd.begin(), odd.end());
            }
            break;
        default:  // the content of another element
            if (Element* other = all[pick(all.size())]; other != &e) {
                Element copy = *other;
                e.parsed = copy.parsed;
                e.children = std::move(copy.children);
                e.content = std::move(copy.content);
                e.padding = e.parsed && e.constructed() ? e.padding : std::max(e.padding, 0);
            }
            break;
    }
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand rng(seed);
    Element root;
    const unsigned char* p = data;
    if (rng() % 8 == 0 || !parse(p, data + size, root, 0))
        return LLVMFuzzerMutate(data, size, maxSize);
    for (size_t rounds = 1 + rng() % 3; rounds > 0; --rounds) {
        std::vector<Element*> all;
        collect(root, all);
        mutate(*all[rng() % all.size()], all, rng);
    }
    Bytes out;
    write(root, out);
    if (p < data + size && rng() % 4 == 0)  // what followed the first element
        out.insert(out.end(), p, static_cast<const unsigned char*>(data + size));
    if (out.empty() || out.size() > maxSize)
        return LLVMFuzzerMutate(data, size, maxSize);
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
