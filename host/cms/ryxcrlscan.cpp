// The revocation-list scanner. It follows OpenSSL's template decoder step by step
// (the same bound passed to each header read, the same order of checks), so that
// both accept and reject the same bytes; tests/fuzz/crl_fuzz holds it to that.
//
// Decoders return kOk after consuming one element (the cursor moves past it),
// kAbsent when an optional element has another tag (the cursor stays), and kFail
// when OpenSSL's decoder would fail.
#include "ryxcrlscan.h"

#include <array>
#include <climits>
#include <cstring>
#include <utility>

namespace ryxasn_internal {

namespace {

const int kFail = 0;
const int kOk = 1;
const int kAbsent = -1;

const unsigned char kUniversal = 0x00;
const unsigned char kContext = 0x80;

// Universal tags, and OpenSSL's pseudo-type for an ANY of another class.
const int kBoolean = 1;
const int kInteger = 2;
const int kBitString = 3;
const int kOctetString = 4;
const int kNull = 5;
const int kObject = 6;
const int kEnumerated = 10;
const int kUTF8String = 12;
const int kSequence = 16;
const int kSet = 17;
const int kUniversalString = 28;
const int kBMPString = 30;
const int kOther = -3;

// The type bits OpenSSL gives the universal tags 0 to 30 when it checks a value
// against the types a choice of strings allows.
const unsigned long kBitUnknown = 0x1000;
const unsigned long kTagBits[31] = {
    0,           0,           0,      0x0400,      0x0200, 0,           0,           kBitUnknown,
    kBitUnknown, kBitUnknown, 0,      kBitUnknown, 0x2000, kBitUnknown, kBitUnknown, kBitUnknown,
    0x10000,     0,           0x0001, 0x0002,      0x0004, 0x0008,      0x0010,      0x4000,
    0x8000,      0x0020,      0x0040, 0x0080,      0x0100, kBitUnknown, 0x0800,
};
// Time: UTCTime or GeneralizedTime.
const unsigned long kTimeTypes = 0x4000 | 0x8000;
// The string types of a name's attribute value: Numeric, Printable, T61, IA5,
// BIT STRING, Universal, BMP, UTF8, SEQUENCE and the unknown ones.
const unsigned long kNameValueTypes =
    0x0001 | 0x0002 | 0x0004 | 0x0010 | 0x0400 | 0x0100 | 0x0800 | 0x2000 | 0x10000 | kBitUnknown;

// OpenSSL reads a name from at most this many bytes.
const long kNameMax = 1024 * 1024;
// Constructed strings nest at most this deep below the outermost.
const int kStringNestMax = 5;

// Object identifiers (content octets) that the scan looks for.
const unsigned char kCrlNumberOID[] = {0x55, 0x1d, 0x14};
const unsigned char kReasonCodeOID[] = {0x55, 0x1d, 0x15};
const unsigned char kCertificateIssuerOID[] = {0x55, 0x1d, 0x1d};

unsigned long tagBit(int tag) {
    return tag < 0 || tag > 30 ? 0 : kTagBits[tag];
}

struct Header {
    int tag = 0;
    unsigned char cls = 0;
    bool constructed = false;
    bool indefinite = false;
    long size = 0;    // octets of the identifier and length
    long length = 0;  // content octets; in indefinite form all that may follow
};

// One identifier and length read from at most max bytes, as ASN1_get_object
// reads them: high tag numbers in any form, lengths in long form with leading
// zeros, indefinite length for constructed encodings only, and the content
// within max.
bool readHeader(const unsigned char* p, long max, Header& h) {
    if (max <= 0) {
        return false;
    }
    const unsigned char* start = p;
    const long total = max;
    h.constructed = (*p & 0x20) != 0;
    h.cls = static_cast<unsigned char>(*p & 0xc0);
    long tag = *p & 0x1f;
    ++p;
    if (--max == 0) {
        return false;
    }
    if (tag == 0x1f) {
        tag = 0;
        while (*p & 0x80) {
            tag = (tag << 7) | (*p++ & 0x7f);
            if (--max == 0 || tag > (INT_MAX >> 7)) {
                return false;
            }
        }
        tag = (tag << 7) | (*p++ & 0x7f);
        if (--max == 0) {
            return false;
        }
    }
    --max;  // the first length octet
    unsigned long length = 0;
    bool indefinite = false;
    if (*p == 0x80) {
        indefinite = true;
        ++p;
    } else {
        int count = *p & 0x7f;
        if (*p++ & 0x80) {
            // OpenSSL wants one byte beyond the length octets.
            if (max < count + 1) {
                return false;
            }
            while (count > 0 && *p == 0) {
                ++p;
                --count;
            }
            if (count > static_cast<int>(sizeof(long))) {
                return false;
            }
            for (; count > 0; --count) {
                length = (length << 8) | *p++;
            }
            if (length > static_cast<unsigned long>(LONG_MAX)) {
                return false;
            }
        } else {
            length = static_cast<unsigned long>(count);
        }
    }
    if (indefinite && !h.constructed) {
        return false;
    }
    h.size = p - start;
    if (static_cast<long>(length) > total - h.size) {
        return false;
    }
    h.tag = static_cast<int>(tag);
    h.indefinite = indefinite;
    h.length = indefinite ? total - h.size : static_cast<long>(length);
    return true;
}

bool isEndOfContents(const unsigned char* p, long length) {
    return length >= 2 && p[0] == 0 && p[1] == 0;
}

// From the content of an indefinite-length element to just past its
// end-of-contents octets (asn1_find_end).
bool findEnd(const unsigned char*& cursor, long length) {
    const unsigned char* p = cursor;
    std::uint32_t expected = 1;
    while (length > 0) {
        if (isEndOfContents(p, length)) {
            p += 2;
            if (--expected == 0) {
                break;
            }
            length -= 2;
            continue;
        }
        const unsigned char* start = p;
        Header h;
        if (!readHeader(p, length, h)) {
            return false;
        }
        p += h.size;
        if (h.indefinite) {
            if (expected == UINT32_MAX) {
                return false;
            }
            ++expected;
        } else {
            p += h.length;
        }
        length -= p - start;
    }
    if (expected != 0) {
        return false;
    }
    cursor = p;
    return true;
}

// The pieces of a constructed string joined (asn1_collect): pieces of any tag,
// nested at most kStringNestMax deep, end-of-contents only in indefinite form.
bool collect(const unsigned char*& cursor, long length, bool indefinite, int depth,
             std::string& out) {
    const unsigned char* p = cursor;
    while (length > 0) {
        const unsigned char* start = p;
        if (isEndOfContents(p, length)) {
            if (!indefinite) {
                return false;
            }
            p += 2;
            indefinite = false;
            break;
        }
        Header h;
        if (!readHeader(p, length, h)) {
            return false;
        }
        p += h.size;
        if (h.constructed) {
            if (depth >= kStringNestMax || !collect(p, h.length, h.indefinite, depth + 1, out)) {
                return false;
            }
        } else {
            out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(h.length));
            p += h.length;
        }
        length -= p - start;
    }
    if (indefinite) {
        return false;
    }
    cursor = p;
    return true;
}

// What ossl_c2i_ASN1_OBJECT accepts.
bool validObject(const unsigned char* c, long length) {
    if (length <= 0 || (c[length - 1] & 0x80) != 0) {
        return false;
    }
    for (long i = 0; i < length; ++i) {
        if (c[i] == 0x80 && (i == 0 || (c[i - 1] & 0x80) == 0)) {
            return false;
        }
    }
    return true;
}

// What c2i_ibuf accepts: at least one octet and no needless leading octet.
bool validInteger(const unsigned char* c, long length) {
    if (length <= 0) {
        return false;
    }
    if (length == 1) {
        return true;
    }
    return !(c[0] == 0x00 && (c[1] & 0x80) == 0) && !(c[0] == 0xff && (c[1] & 0x80) != 0);
}

// The content checks of asn1_ex_c2i for a value of universal type utype.
bool validContent(int utype, const unsigned char* c, long length) {
    switch (utype) {
        case kObject:
            return validObject(c, length);
        case kNull:
            return length == 0;
        case kBoolean:
            return length == 1;
        case kBitString:
            return length >= 1 && c[0] <= 7;
        case kInteger:
        case kEnumerated:
            return validInteger(c, length);
        case kBMPString:
            return (length & 1) == 0;
        case kUniversalString:
            return (length & 3) == 0;
        default:
            return true;
    }
}

bool validCodePoint(unsigned long value) {
    return value <= 0x10ffff && (value < 0xd800 || value > 0xdfff);
}

// What UTF8_getc accepts for every character: no overlong forms, no surrogates,
// nothing above U+10FFFF.
bool validUTF8(const unsigned char* p, long length) {
    while (length > 0) {
        unsigned long value;
        long size;
        if ((p[0] & 0x80) == 0) {
            value = p[0];
            size = 1;
        } else if ((p[0] & 0xe0) == 0xc0) {
            if (length < 2 || (p[1] & 0xc0) != 0x80) {
                return false;
            }
            value = ((p[0] & 0x1ful) << 6) | (p[1] & 0x3f);
            if (value < 0x80) {
                return false;
            }
            size = 2;
        } else if ((p[0] & 0xf0) == 0xe0) {
            if (length < 3 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80) {
                return false;
            }
            value = ((p[0] & 0x0ful) << 12) | ((p[1] & 0x3ful) << 6) | (p[2] & 0x3f);
            if (value < 0x800 || !validCodePoint(value)) {
                return false;
            }
            size = 3;
        } else if ((p[0] & 0xf8) == 0xf0) {
            if (length < 4 || (p[1] & 0xc0) != 0x80 || (p[2] & 0xc0) != 0x80 ||
                (p[3] & 0xc0) != 0x80) {
                return false;
            }
            value = ((p[0] & 0x07ul) << 18) | ((p[1] & 0x3ful) << 12) | ((p[2] & 0x3ful) << 6) |
                    (p[3] & 0x3f);
            if (value < 0x10000 || value > 0x10ffff) {
                return false;
            }
            size = 4;
        } else {
            return false;
        }
        p += size;
        length -= size;
    }
    return true;
}

// OpenSSL builds a canonical form of every name (lower case UTF-8); a value of a
// Unicode string type that has no UTF-8 form fails the whole decoding.
bool canonicalForm(int utype, const unsigned char* c, long length) {
    if (utype == kUTF8String) {
        return validUTF8(c, length);
    }
    if (utype == kBMPString) {
        for (long i = 0; i + 1 < length; i += 2) {
            if (!validCodePoint((static_cast<unsigned long>(c[i]) << 8) | c[i + 1])) {
                return false;
            }
        }
    }
    if (utype == kUniversalString) {
        for (long i = 0; i + 3 < length; i += 4) {
            unsigned long value = (static_cast<unsigned long>(c[i]) << 24) |
                                  (static_cast<unsigned long>(c[i + 1]) << 16) |
                                  (static_cast<unsigned long>(c[i + 2]) << 8) | c[i + 3];
            if (!validCodePoint(value)) {
                return false;
            }
        }
    }
    return true;
}

bool sameOID(const unsigned char* oid, long length, const unsigned char (&known)[3]) {
    return length == 3 && std::memcmp(oid, known, 3) == 0;
}

// Content octets of a primitive or constructed value.
struct Content {
    const unsigned char* data = nullptr;
    long length = 0;
};

class Scanner {
  public:
    Scanner(const unsigned char* der, CrlLayout& layout) : m_der(der), m_layout(layout) {}

    // The outer SEQUENCE { tbsCertList, signatureAlgorithm, signature }.
    int certificateList(const unsigned char*& p, long length) {
        return sequence<3>(p, length, kSequence, kUniversal, false, {{false, false, false}},
                           [this](size_t field, const unsigned char*& q, long left, bool opt) {
                               switch (field) {
                                   case 0:
                                       return tbsCertList(q, left, opt);
                                   case 1:
                                       return algorithm(q, left, opt);
                                   default:
                                       return primitive(q, left, kBitString, opt, nullptr);
                               }
                           });
    }

    size_t errorOffset() const { return m_errorOffset; }

  private:
    int fail(const unsigned char* p) {
        if (!m_failed) {
            m_failed = true;
            m_errorOffset = static_cast<size_t>(p - m_der);
        }
        return kFail;
    }

    // The header at p with the tag expected (asn1_check_tlen): kAbsent when an
    // optional element has another tag; a bad header fails even then.
    int expect(const unsigned char* p, long length, int tag, unsigned char cls, bool opt,
               Header& h) {
        if (!readHeader(p, length, h)) {
            return fail(p);
        }
        if (h.tag != tag || h.cls != cls) {
            return opt ? kAbsent : fail(p);
        }
        return kOk;
    }

    // A SEQUENCE of N fields (asn1_item_embed_d2i): decode(field, cursor, left,
    // opt) reads one. A field may be left out only where optional says so; the
    // last field present must end the content.
    template <size_t N, typename Field>
    int sequence(const unsigned char*& p, long length, int tag, unsigned char cls, bool opt,
                 const std::array<bool, N>& optional, Field decode) {
        Header h;
        const int header = expect(p, length, tag, cls, opt, h);
        if (header != kOk) {
            return header;
        }
        if (!h.constructed) {
            return fail(p);
        }
        const unsigned char* q = p + h.size;
        long left = h.length;
        bool endOfContents = h.indefinite;
        size_t field = 0;
        for (; field < N; ++field) {
            if (left == 0) {
                break;
            }
            if (isEndOfContents(q, left)) {
                if (!endOfContents) {
                    return fail(q);
                }
                q += 2;
                left -= 2;
                endOfContents = false;
                break;
            }
            // The last field cannot be left out while content remains.
            const bool fieldOpt = field + 1 == N ? false : optional[field];
            const unsigned char* start = q;
            const int rc = decode(field, q, left, fieldOpt);
            if (rc == kFail) {
                return kFail;
            }
            if (rc == kAbsent) {
                continue;
            }
            left -= q - start;
        }
        if (endOfContents) {
            if (!isEndOfContents(q, left)) {
                return fail(q);
            }
            q += 2;
            left -= 2;
        }
        if (!h.indefinite && left != 0) {
            return fail(q);
        }
        for (; field < N; ++field) {
            if (!optional[field]) {
                return fail(q);
            }
        }
        p = q;
        return kOk;
    }

    // A SEQUENCE OF or SET OF (asn1_template_noexp_d2i): the constructed bit is
    // not checked. item(cursor, left) reads one element.
    template <typename Item>
    int listOf(const unsigned char*& p, long length, int tag, bool opt, Item item) {
        Header h;
        const int header = expect(p, length, tag, kUniversal, opt, h);
        if (header != kOk) {
            return header;
        }
        const unsigned char* q = p + h.size;
        long left = h.length;
        bool endOfContents = h.indefinite;
        while (left > 0) {
            if (isEndOfContents(q, left)) {
                if (!endOfContents) {
                    return fail(q);
                }
                q += 2;
                endOfContents = false;
                break;
            }
            const unsigned char* start = q;
            if (item(q, left) != kOk) {
                return fail(q);
            }
            left -= q - start;
        }
        if (endOfContents) {
            return fail(q);
        }
        p = q;
        return kOk;
    }

    // [tag] EXPLICIT around one element read by inner(cursor, left).
    template <typename Inner>
    int explicitTag(const unsigned char*& p, long length, int tag, bool opt, Inner inner) {
        Header h;
        const int header = expect(p, length, tag, kContext, opt, h);
        if (header != kOk) {
            return header;
        }
        if (!h.constructed) {
            return fail(p);
        }
        const unsigned char* q = p + h.size;
        long left = h.length;
        const unsigned char* start = q;
        if (inner(q, left) != kOk) {
            return fail(q);
        }
        left -= q - start;
        if (h.indefinite) {
            if (!isEndOfContents(q, left)) {
                return fail(q);
            }
            q += 2;
        } else if (left != 0) {
            return fail(q);
        }
        p = q;
        return kOk;
    }

    // The body of asn1_d2i_ex_primitive once the header h at p is accepted:
    // SEQUENCE, SET and other classes stay encoded, strings may be constructed,
    // and the content must suit utype.
    int primitiveBody(const unsigned char*& p, const Header& h, int utype, Content* out) {
        const unsigned char* q = p + h.size;
        Content content;
        if (utype == kSequence || utype == kSet || utype == kOther) {
            if (utype != kOther && !h.constructed) {
                return fail(p);
            }
            if (h.indefinite) {
                if (!findEnd(q, h.length)) {
                    return fail(p);
                }
            } else {
                q += h.length;
            }
            content.data = p;
            content.length = q - p;
        } else if (h.constructed) {
            if (utype == kNull || utype == kBoolean || utype == kObject || utype == kInteger ||
                utype == kEnumerated) {
                return fail(p);
            }
            m_scratch.clear();
            if (!collect(q, h.length, h.indefinite, 0, m_scratch)) {
                return fail(p);
            }
            content.data = reinterpret_cast<const unsigned char*>(m_scratch.data());
            content.length = static_cast<long>(m_scratch.size());
        } else {
            content.data = q;
            content.length = h.length;
            q += h.length;
        }
        if (!validContent(utype, content.data, content.length)) {
            return fail(p);
        }
        if (out != nullptr) {
            *out = content;
        }
        p = q;
        return kOk;
    }

    // A value of one universal type.
    int primitive(const unsigned char*& p, long length, int utype, bool opt, Content* out) {
        Header h;
        const int header = expect(p, length, utype, kUniversal, opt, h);
        return header != kOk ? header : primitiveBody(p, h, utype, out);
    }

    // A value of one of the universal types in mask (OpenSSL's MSTRING).
    int choiceOfStrings(const unsigned char*& p, long length, unsigned long mask, bool opt,
                        int& utype, Content* out) {
        Header h;
        if (!readHeader(p, length, h)) {
            return fail(p);
        }
        if (h.cls != kUniversal || (tagBit(h.tag) & mask) == 0) {
            return opt ? kAbsent : fail(p);
        }
        utype = h.tag;
        return primitiveBody(p, h, h.tag, out);
    }

    // ANY: the type follows from the tag.
    int any(const unsigned char*& p, long length) {
        Header h;
        if (!readHeader(p, length, h)) {
            return fail(p);
        }
        return primitiveBody(p, h, h.cls == kUniversal ? h.tag : kOther, nullptr);
    }

    int time(const unsigned char*& p, long length, bool opt, int& type, std::string& text) {
        Content content;
        const int rc = choiceOfStrings(p, length, kTimeTypes, opt, type, &content);
        if (rc == kOk) {
            text.assign(reinterpret_cast<const char*>(content.data),
                        static_cast<size_t>(content.length));
        }
        return rc;
    }

    // AlgorithmIdentifier: SEQUENCE { OBJECT IDENTIFIER, ANY OPTIONAL }.
    int algorithm(const unsigned char*& p, long length, bool opt) {
        return sequence<2>(p, length, kSequence, kUniversal, opt, {{false, true}},
                           [this](size_t field, const unsigned char*& q, long left, bool o) {
                               return field == 0 ? primitive(q, left, kObject, o, nullptr)
                                                 : any(q, left);
                           });
    }

    // Name: SEQUENCE OF SET OF AttributeTypeAndValue, read from at most
    // kNameMax bytes.
    int name(const unsigned char*& p, long length) {
        if (length > kNameMax) {
            length = kNameMax;
        }
        return listOf(p, length, kSequence, false, [this](const unsigned char*& q, long left) {
            return listOf(q, left, kSet, false, [this](const unsigned char*& r, long rest) {
                return attribute(r, rest);
            });
        });
    }

    int attribute(const unsigned char*& p, long length) {
        return sequence<2>(p, length, kSequence, kUniversal, false, {{false, false}},
                           [this](size_t field, const unsigned char*& q, long left, bool opt) {
                               if (field == 0) {
                                   return primitive(q, left, kObject, opt, nullptr);
                               }
                               const unsigned char* start = q;
                               int utype = 0;
                               Content value;
                               const int rc =
                                   choiceOfStrings(q, left, kNameValueTypes, opt, utype, &value);
                               if (rc == kOk && !canonicalForm(utype, value.data, value.length)) {
                                   return fail(start);
                               }
                               return rc;
                           });
    }

    // Extension: SEQUENCE { OBJECT IDENTIFIER, BOOLEAN OPTIONAL, OCTET STRING }.
    // Gives the identifier and the value's content.
    int extension(const unsigned char*& p, long length, Content& oid, std::string& value) {
        return sequence<3>(p, length, kSequence, kUniversal, false, {{false, true, false}},
                           [&](size_t field, const unsigned char*& q, long left, bool opt) {
                               if (field == 0) {
                                   return primitive(q, left, kObject, opt, &oid);
                               }
                               if (field == 1) {
                                   return primitive(q, left, kBoolean, opt, nullptr);
                               }
                               Content content;
                               const int rc = primitive(q, left, kOctetString, opt, &content);
                               if (rc == kOk) {
                                   value.assign(reinterpret_cast<const char*>(content.data),
                                                static_cast<size_t>(content.length));
                               }
                               return rc;
                           });
    }

    // The extensions of one entry: what matters to a look-up by serial number.
    int entryExtensions(const unsigned char*& p, long length, bool opt) {
        int reasons = 0;
        bool plainReason = true;
        const int rc = listOf(p, length, kSequence, opt, [&](const unsigned char*& q, long left) {
            Content oid;
            std::string value;
            if (extension(q, left, oid, value) != kOk) {
                return kFail;
            }
            if (sameOID(oid.data, oid.length, kCertificateIssuerOID)) {
                m_layout.plainEntries = false;
            } else if (sameOID(oid.data, oid.length, kReasonCodeOID)) {
                ++reasons;
                // ENUMERATED of one octet, not removeFromCRL (8).
                plainReason = plainReason && value.size() == 3 && value[0] == 0x0a &&
                              value[1] == 0x01 && value[2] != 0x08;
            }
            return kOk;
        });
        if (rc == kOk && reasons > 0 && (reasons > 1 || !plainReason)) {
            m_layout.plainEntries = false;
        }
        return rc;
    }

    // One revoked entry: SEQUENCE { serial INTEGER, date Time, extensions OPTIONAL }.
    int entry(const unsigned char*& p, long length) {
        const size_t offset = static_cast<size_t>(p - m_der);
        Content serial;
        const int rc =
            sequence<3>(p, length, kSequence, kUniversal, false, {{false, false, true}},
                        [&](size_t field, const unsigned char*& q, long left, bool opt) {
                            if (field == 0) {
                                return primitive(q, left, kInteger, opt, &serial);
                            }
                            if (field == 1) {
                                int type = 0;
                                return choiceOfStrings(q, left, kTimeTypes, opt, type, nullptr);
                            }
                            return entryExtensions(q, left, opt);
                        });
        if (rc != kOk) {
            return rc;
        }
        CrlLayout& l = m_layout;
        if (l.revokedCount % kCrlSampleStride == 0) {
            l.samples.push_back(static_cast<std::uint32_t>(offset));
        }
        const size_t serialLength = static_cast<size_t>(serial.length);
        if (l.revokedCount > 0 && l.sorted &&
            compareSerials(m_lastSerial, m_lastSerialLength, serial.data, serialLength) > 0) {
            l.sorted = false;
        }
        m_lastSerial = serial.data;
        m_lastSerialLength = serialLength;
        ++l.revokedCount;
        l.entriesEnd = static_cast<size_t>(p - m_der);
        return kOk;
    }

    int crlExtensions(const unsigned char*& p, long length, bool opt) {
        int numbers = 0;
        const int rc = explicitTag(p, length, 0, opt, [&](const unsigned char*& q, long left) {
            return listOf(q, left, kSequence, false, [&](const unsigned char*& r, long rest) {
                Content oid;
                std::string value;
                if (extension(r, rest, oid, value) != kOk) {
                    return kFail;
                }
                if (sameOID(oid.data, oid.length, kCrlNumberOID)) {
                    ++numbers;
                    m_layout.crlNumber = std::move(value);
                }
                return kOk;
            });
        });
        // OpenSSL knows no CRL number when the extension is there twice.
        m_layout.hasCrlNumber = rc == kOk && numbers == 1;
        return rc;
    }

    // TBSCertList: version, signature, issuer, thisUpdate, nextUpdate,
    // revokedCertificates, [0] crlExtensions.
    int tbsCertList(const unsigned char*& p, long length, bool opt) {
        return sequence<7>(
            p, length, kSequence, kUniversal, opt, {{true, false, false, false, true, true, true}},
            [this](size_t field, const unsigned char*& q, long left, bool o) {
                CrlLayout& l = m_layout;
                switch (field) {
                    case 0:
                        return primitive(q, left, kInteger, o, nullptr);
                    case 1:
                        return algorithm(q, left, o);
                    case 2:
                        l.issuerOffset = static_cast<size_t>(q - m_der);
                        l.issuerBound = left;
                        return name(q, left);
                    case 3:
                        return time(q, left, o, l.thisUpdateType, l.thisUpdate);
                    case 4: {
                        const int rc = time(q, left, o, l.nextUpdateType, l.nextUpdate);
                        l.hasNextUpdate = rc == kOk;
                        return rc;
                    }
                    case 5:
                        return revoked(q, left, o);
                    default:
                        return crlExtensions(q, left, o);
                }
            });
    }

    int revoked(const unsigned char*& p, long length, bool opt) {
        Header h;
        if (readHeader(p, length, h) && h.tag == kSequence && h.cls == kUniversal) {
            m_layout.entriesBegin = static_cast<size_t>(p - m_der) + static_cast<size_t>(h.size);
            m_layout.entriesEnd = m_layout.entriesBegin;
        }
        return listOf(p, length, kSequence, opt,
                      [this](const unsigned char*& q, long left) { return entry(q, left); });
    }

    const unsigned char* m_der;
    CrlLayout& m_layout;
    std::string m_scratch;  // the joined pieces of the last constructed string
    const unsigned char* m_lastSerial = nullptr;
    size_t m_lastSerialLength = 0;
    bool m_failed = false;
    size_t m_errorOffset = 0;
};

}  // namespace

size_t scanCertificateList(const unsigned char* der, size_t length, CrlLayout& layout,
                           size_t& errorOffset) {
    layout = CrlLayout();
    errorOffset = 0;
    if (der == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    Scanner scanner(der, layout);
    const unsigned char* p = der;
    if (scanner.certificateList(p, static_cast<long>(length)) != kOk) {
        errorOffset = scanner.errorOffset();
        return 0;
    }
    return static_cast<size_t>(p - der);
}

int compareSerials(const unsigned char* a, size_t aLength, const unsigned char* b, size_t bLength) {
    const bool aNegative = (a[0] & 0x80) != 0;
    const bool bNegative = (b[0] & 0x80) != 0;
    if (aNegative != bNegative) {
        return aNegative ? -1 : 1;
    }
    // Minimal two's complement: among positive numbers the longer is greater,
    // among negative ones the longer is smaller; equal lengths compare bytewise.
    if (aLength != bLength) {
        return (aLength > bLength) != aNegative ? 1 : -1;
    }
    const int c = std::memcmp(a, b, aLength);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool entrySerial(const unsigned char* der, size_t offset, size_t end, const unsigned char*& serial,
                 size_t& serialLength, size_t& next) {
    Header entry;
    if (offset >= end || !readHeader(der + offset, static_cast<long>(end - offset), entry)) {
        return false;
    }
    const unsigned char* content = der + offset + entry.size;
    const unsigned char* after = content;
    if (entry.indefinite) {
        if (!findEnd(after, entry.length)) {
            return false;
        }
    } else {
        after += entry.length;
    }
    Header integer;
    if (!readHeader(content, entry.length, integer) || integer.constructed) {
        return false;
    }
    serial = content + integer.size;
    serialLength = static_cast<size_t>(integer.length);
    next = static_cast<size_t>(after - der);
    return serialLength > 0;
}

bool integerContent(const unsigned char* der, size_t length, const unsigned char*& content,
                    size_t& contentLength) {
    Header h;
    if (length == 0 || length > static_cast<size_t>(LONG_MAX) ||
        !readHeader(der, static_cast<long>(length), h) || h.indefinite ||
        h.size + h.length != static_cast<long>(length) || h.length == 0) {
        return false;
    }
    content = der + h.size;
    contentLength = static_cast<size_t>(h.length);
    return true;
}

}  // namespace ryxasn_internal
