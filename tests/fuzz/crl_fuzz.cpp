// Differential libFuzzer target for revocation lists: every input goes to the
// host's lazy RYXASNCertificateList and to OpenSSL's d2i_X509_CRL. Both must
// accept it (as one whole encoding) or both reject it; when both accept, every
// accessor must agree with what OpenSSL's object says.
//
// The custom mutator edits the encoding as a tree of BER elements (length forms,
// high tag numbers, constructed strings, elements moved, repeated or dropped), so
// that the encodings OpenSSL tolerates but DER forbids are reached from the
// seeds, not only byte noise.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crlcompare.h"
#include "ryxasn.h"
#include "ryxexception.h"
#include "ryxopensslptr.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

namespace {

using Bytes = std::vector<unsigned char>;

[[noreturn]] void disagree(const std::string& what) {
    std::fprintf(stderr, "crl_fuzz: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(size)));
    const bool opensslAccepts = crl && p == data + size;
    ERR_clear_error();

    RYXASNCertificateList list(RYXASN_SECURITY_NONE);
    bool oursAccepts = true;
    std::string why;
    try {
        list.decodeDER(data, size);
    } catch (const RYXASNException& e) {
        oursAccepts = false;
        why = e.what();
    }
    if (oursAccepts != opensslAccepts) {
        disagree(crlcompare::differs("acceptance", oursAccepts ? "accepted" : "rejected: " + why,
                                     opensslAccepts ? "accepted" : "rejected"));
    }
    if (oursAccepts) {
        const std::string difference = crlcompare::firstDifference(list, crl.get(), data, size);
        if (!difference.empty()) {
            disagree(difference);
        }
        // OpenSSL's object built lazily from the kept bytes is the same list.
        unsigned char* lazy = nullptr;
        unsigned char* direct = nullptr;
        const int lazyLength = i2d_X509_CRL(list.native(), &lazy);
        const int directLength = i2d_X509_CRL(crl.get(), &direct);
        ryx::UniquePtr<unsigned char> lazyOwned(lazy);
        ryx::UniquePtr<unsigned char> directOwned(direct);
        if (lazyLength != directLength ||
            (lazyLength > 0 && std::memcmp(lazy, direct, lazyLength) != 0)) {
            disagree(crlcompare::differs("native()", std::to_string(lazyLength),
                                         std::to_string(directLength)));
        }
        ERR_clear_error();
    }
    return 0;
}

namespace {

// One BER element as read: identifier octets, the length form, and either the
// elements inside (when they parse) or the raw content.
struct Element {
    Bytes identifier;
    bool indefinite = false;
    int extraLengthOctets = 0;  // leading zero octets of a long-form length
    bool parsed = false;
    std::vector<Element> children;
    Bytes content;
};

bool parse(const unsigned char*& p, const unsigned char* end, Element& e, int depth);

bool parseChildren(const unsigned char*& p, const unsigned char* end, bool indefinite,
                   std::vector<Element>& children, int depth) {
    while (p < end) {
        if (indefinite && end - p >= 2 && p[0] == 0 && p[1] == 0) {
            p += 2;
            return true;
        }
        Element child;
        if (!parse(p, end, child, depth + 1)) {
            return false;
        }
        children.push_back(std::move(child));
    }
    return !indefinite;
}

bool parse(const unsigned char*& p, const unsigned char* end, Element& e, int depth) {
    if (depth > 24 || p >= end) {
        return false;
    }
    const unsigned char* start = p;
    bool constructed = (*p & 0x20) != 0;
    if ((*p++ & 0x1f) == 0x1f) {
        while (p < end && (*p & 0x80)) {
            ++p;
        }
        if (p++ >= end) {
            return false;
        }
    }
    e.identifier.assign(start, p);
    if (p >= end) {
        return false;
    }
    size_t length = 0;
    if (*p == 0x80) {
        if (!constructed) {
            return false;
        }
        e.indefinite = true;
        ++p;
        const unsigned char* inner = p;
        if (!parseChildren(inner, end, true, e.children, depth)) {
            return false;
        }
        e.parsed = true;
        p = inner;
        return true;
    }
    if (*p & 0x80) {
        int count = *p++ & 0x7f;
        if (count > 4 || end - p < count) {
            return false;
        }
        for (int i = 0; i < count; ++i) {
            length = (length << 8) | *p++;
        }
    } else {
        length = *p++;
    }
    if (static_cast<size_t>(end - p) < length) {
        return false;
    }
    const unsigned char* inner = p;
    if (constructed && parseChildren(inner, p + length, false, e.children, depth)) {
        e.parsed = true;
    } else {
        e.children.clear();
        e.content.assign(p, p + length);
    }
    p += length;
    return true;
}

void write(const Element& e, Bytes& out) {
    Bytes body;
    if (e.parsed) {
        for (const Element& child : e.children) {
            write(child, body);
        }
    } else {
        body = e.content;
    }
    out.insert(out.end(), e.identifier.begin(), e.identifier.end());
    if (e.indefinite && !e.identifier.empty() && (e.identifier[0] & 0x20)) {
        out.push_back(0x80);
        out.insert(out.end(), body.begin(), body.end());
        out.push_back(0);
        out.push_back(0);
        return;
    }
    Bytes octets;
    for (size_t n = body.size(); n > 0; n >>= 8) {
        octets.insert(octets.begin(), static_cast<unsigned char>(n & 0xff));
    }
    if (body.size() < 0x80 && e.extraLengthOctets == 0) {
        out.push_back(static_cast<unsigned char>(body.size()));
    } else {
        octets.insert(octets.begin(), static_cast<size_t>(e.extraLengthOctets), 0);
        out.push_back(static_cast<unsigned char>(0x80 | octets.size()));
        out.insert(out.end(), octets.begin(), octets.end());
    }
    out.insert(out.end(), body.begin(), body.end());
}

void collect(Element& e, std::vector<Element*>& all) {
    all.push_back(&e);
    if (e.parsed) {
        for (Element& child : e.children) {
            collect(child, all);
        }
    }
}

// Small elements worth dropping in anywhere: end-of-contents, NULL, zero,
// empty strings and containers, a boolean, a UTF8String, a context tag.
const std::vector<Bytes>& smallElements() {
    static const std::vector<Bytes> elements = {
        {0x00, 0x00}, {0x05, 0x00},       {0x02, 0x01, 0x00}, {0x04, 0x00}, {0x30, 0x00},
        {0x31, 0x00}, {0x01, 0x01, 0x00}, {0x0c, 0x01, 0x41}, {0xa0, 0x00}, {0x17, 0x00},
    };
    return elements;
}

// Content bytes that Unicode string types must refuse, and times of odd shapes.
const std::vector<Bytes>& oddContents() {
    static const std::vector<Bytes> contents = {
        {0xc0, 0x80},
        {0xed, 0xa0, 0x80},
        {0xf4, 0x90, 0x80, 0x80},
        {0xd8, 0x00},
        {0x00, 0x00, 0xd8, 0x00},
        {0x80},
        {'9', '9', '1', '2', '3', '1', '2', '3', '5', '9', 'Z'},
        {},
    };
    return contents;
}

void mutateElement(Element& e, std::vector<Element*>& all, std::minstd_rand& rng) {
    auto pick = [&rng](size_t n) { return static_cast<size_t>(rng() % n); };
    const bool constructed = !e.identifier.empty() && (e.identifier[0] & 0x20);
    switch (pick(12)) {
        case 0:  // indefinite length, or back to definite
            if (constructed && e.parsed) {
                e.indefinite = !e.indefinite;
            }
            break;
        case 1:  // long-form length with leading zeros
            e.indefinite = false;
            e.extraLengthOctets = static_cast<int>(pick(4));
            break;
        case 2: {  // the same tag number in high-tag form, perhaps padded
            unsigned char first = e.identifier[0];
            int tag = first & 0x1f;
            if (tag != 0x1f) {
                e.identifier = {static_cast<unsigned char>(first | 0x1f)};
                if (pick(2) == 0) {
                    e.identifier.push_back(0x80);
                }
                e.identifier.push_back(static_cast<unsigned char>(tag));
            }
            break;
        }
        case 3:  // a primitive string as constructed pieces
            if (!constructed && !e.parsed) {
                Bytes content = e.content;
                e.identifier[0] |= 0x20;
                e.parsed = true;
                e.indefinite = pick(2) == 0;
                e.children.clear();
                size_t at = 0;
                while (at < content.size() || e.children.empty()) {
                    size_t n = std::min(content.size() - at, 1 + pick(4));
                    Element piece;
                    piece.identifier = {static_cast<unsigned char>(pick(3) == 0 ? 0x04 : 0x0c)};
                    piece.content.assign(content.begin() + at, content.begin() + at + n);
                    e.children.push_back(std::move(piece));
                    at += n;
                    if (n == 0) {
                        break;
                    }
                }
            }
            break;
        case 4:  // the constructed bit flipped
            e.identifier[0] ^= 0x20;
            if (e.indefinite) {
                e.indefinite = false;
            }
            break;
        case 5:  // drop, repeat or swap elements inside
            if (e.parsed && !e.children.empty()) {
                size_t i = pick(e.children.size());
                switch (pick(3)) {
                    case 0:
                        e.children.erase(e.children.begin() + static_cast<long>(i));
                        break;
                    case 1: {
                        Element copy = e.children[i];
                        e.children.insert(e.children.begin() + static_cast<long>(i), copy);
                        break;
                    }
                    default:
                        std::swap(e.children[i], e.children[pick(e.children.size())]);
                        break;
                }
            }
            break;
        case 6:  // a small element dropped in
            if (e.parsed) {
                const Bytes& small = smallElements()[pick(smallElements().size())];
                const unsigned char* p = small.data();
                Element child;
                if (parse(p, small.data() + small.size(), child, 0)) {
                    e.children.insert(
                        e.children.begin() + static_cast<long>(pick(e.children.size() + 1)), child);
                }
            }
            break;
        case 7:  // content bytes mutated
            if (!e.parsed) {
                e.content.resize(e.content.size() + 8);
                size_t n =
                    LLVMFuzzerMutate(e.content.data(), e.content.size() - 8, e.content.size());
                e.content.resize(n);
            }
            break;
        case 8:  // an integer padded
            if (!e.parsed && !e.content.empty()) {
                e.content.insert(e.content.begin(), pick(2) == 0 ? 0x00 : 0xff);
            }
            break;
        case 9:  // another tag or class
            e.identifier = {static_cast<unsigned char>(rng() & 0xff)};
            if ((e.identifier[0] & 0x1f) == 0x1f) {
                e.identifier.push_back(static_cast<unsigned char>(pick(64)));
            }
            if (e.indefinite && !(e.identifier[0] & 0x20)) {
                e.indefinite = false;
            }
            break;
        case 10:  // odd content
            if (!e.parsed) {
                e.content = oddContents()[pick(oddContents().size())];
            }
            break;
        default: {  // the content of another element
            Element* other = all[pick(all.size())];
            if (other != &e) {
                Element copy = *other;
                e.parsed = copy.parsed;
                e.children = std::move(copy.children);
                e.content = std::move(copy.content);
            }
            break;
        }
    }
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
    std::minstd_rand rng(seed);
    Element root;
    const unsigned char* p = data;
    if (rng() % 8 == 0 || !parse(p, data + size, root, 0)) {
        return LLVMFuzzerMutate(data, size, maxSize);
    }
    const size_t rounds = 1 + rng() % 3;
    for (size_t i = 0; i < rounds; ++i) {
        std::vector<Element*> all;
        collect(root, all);
        mutateElement(*all[rng() % all.size()], all, rng);
    }
    Bytes out;
    write(root, out);
    if (p < data + size && rng() % 4 == 0) {
        out.insert(
            out.end(), p,
            static_cast<const unsigned char*>(data + size));  // what followed the first element
    }
    if (out.size() > maxSize || out.empty()) {
        return LLVMFuzzerMutate(data, size, maxSize);
    }
    std::memcpy(data, out.data(), out.size());
    return out.size();
}
