// The revocation-list scanner, a fast path for strict DER. Each element's
// identifier octet must be the one DER prescribes (which fixes class, form and
// a low tag number) and its length definite and in its shortest form; contents
// are checked as OpenSSL checks them (integers, object identifiers, booleans,
// bit strings), and the issuer's Name is decoded by OpenSSL itself. Whatever
// does not fit fails the scan, and the caller leaves the bytes to
// d2i_X509_CRL. tests/fuzz/crl_fuzz holds the scan to accepting only what
// OpenSSL accepts, and to reading it the same way.
#include "ryxcrlscan.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>

#include "ryxopensslptr.h"

namespace ryxasn_internal {

namespace {

// Identifier octets.
const unsigned char kBoolean = 0x01;
const unsigned char kInteger = 0x02;
const unsigned char kBitString = 0x03;
const unsigned char kOctetString = 0x04;
const unsigned char kNull = 0x05;
const unsigned char kObject = 0x06;
const unsigned char kUTCTime = 0x17;          // V_ASN1_UTCTIME
const unsigned char kGeneralizedTime = 0x18;  // V_ASN1_GENERALIZEDTIME
const unsigned char kSequence = 0x30;
const unsigned char kExplicit0 = 0xa0;

// How deep derForm follows nested elements.
const int kNestMax = 8;

// Object identifiers (content octets) that the scan looks for.
const unsigned char kCrlNumberOID[] = {0x55, 0x1d, 0x14};
const unsigned char kReasonCodeOID[] = {0x55, 0x1d, 0x15};
const unsigned char kCertificateIssuerOID[] = {0x55, 0x1d, 0x1d};

// Bytes still to be read.
struct Span {
    const unsigned char* p = nullptr;
    const unsigned char* end = nullptr;

    bool empty() const { return p == end; }
    size_t size() const { return static_cast<size_t>(end - p); }
    bool at(unsigned char id) const { return p != end && *p == id; }
};

// The element at in.p, in.p moved past it: a low tag number, and a definite
// length in its shortest form whose content lies within in.
bool element(Span& in, unsigned char& id, Span& content) {
    const unsigned char* p = in.p;
    if (in.size() < 2 || (*p & 0x1f) == 0x1f) {
        return false;
    }
    id = *p++;
    size_t length = *p++;
    if (length & 0x80) {
        size_t count = length & 0x7f;  // 0: indefinite
        if (count == 0 || count > 4 || static_cast<size_t>(in.end - p) < count || *p == 0) {
            return false;
        }
        for (length = 0; count > 0; --count) {
            length = (length << 8) | *p++;
        }
        if (length < 0x80) {
            return false;  // the short form holds it
        }
    }
    if (length > static_cast<size_t>(in.end - p)) {
        return false;
    }
    content = Span{p, p + length};
    in.p = content.end;
    return true;
}

// The element at in.p when its identifier octet is id.
bool expect(Span& in, unsigned char id, Span& content) {
    unsigned char found = 0;
    return in.at(id) && element(in, found, content);
}

// Whether in holds only elements in DER form, followed kNestMax deep: no
// end-of-contents, SEQUENCE and SET constructed, universal strings primitive.
bool derForm(Span in, int depth) {
    while (!in.empty()) {
        unsigned char id = 0;
        Span content;
        if (!element(in, id, content) || id == 0) {
            return false;
        }
        const bool constructed = (id & 0x20) != 0;
        const unsigned char tag = id & 0x1f;
        if ((id & 0xc0) == 0 && constructed != (tag == 16 || tag == 17)) {
            return false;
        }
        if (constructed && (depth == 0 || !derForm(content, depth - 1))) {
            return false;
        }
    }
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

bool validObject(const Span& s) {
    return validObject(s.p, static_cast<long>(s.size()));
}

// What c2i_ibuf accepts: at least one octet and no needless leading octet.
bool validInteger(const unsigned char* c, size_t length) {
    if (length == 0) {
        return false;
    }
    if (length == 1) {
        return true;
    }
    return !(c[0] == 0x00 && (c[1] & 0x80) == 0) && !(c[0] == 0xff && (c[1] & 0x80) != 0);
}

bool validInteger(const Span& s) {
    return validInteger(s.p, s.size());
}

bool sameOID(const Span& oid, const unsigned char (&known)[3]) {
    return oid.size() == 3 && std::memcmp(oid.p, known, 3) == 0;
}

bool isTime(const Span& in) {
    return in.at(kUTCTime) || in.at(kGeneralizedTime);
}

// Time: UTCTime or GeneralizedTime; OpenSSL's decoder does not look inside.
// The type and content go to type and text when they are given.
bool readTime(Span& in, int* type, std::string* text) {
    unsigned char id = 0;
    Span content;
    if (!isTime(in) || !element(in, id, content)) {
        return false;
    }
    if (type != nullptr) {
        *type = id;
        text->assign(reinterpret_cast<const char*>(content.p), content.size());
    }
    return true;
}

// AlgorithmIdentifier: SEQUENCE { OBJECT IDENTIFIER, parameters }, the
// parameters absent, NULL, or a SEQUENCE (OpenSSL keeps it encoded).
bool algorithm(Span& in) {
    Span alg;
    Span oid;
    if (!expect(in, kSequence, alg) || !expect(alg, kObject, oid) || !validObject(oid)) {
        return false;
    }
    if (alg.empty()) {
        return true;
    }
    unsigned char id = 0;
    Span parameters;
    return element(alg, id, parameters) && alg.empty() &&
           ((id == kNull && parameters.empty()) ||
            (id == kSequence && derForm(parameters, kNestMax)));
}

// Extension: SEQUENCE { OBJECT IDENTIFIER, critical BOOLEAN OPTIONAL, OCTET
// STRING }; DER leaves out a critical FALSE and writes TRUE as 0xff.
bool extension(Span& in, Span& oid, Span& value) {
    Span ext;
    Span critical;
    if (!expect(in, kSequence, ext) || !expect(ext, kObject, oid) || !validObject(oid)) {
        return false;
    }
    if (ext.at(kBoolean) &&
        !(expect(ext, kBoolean, critical) && critical.size() == 1 && *critical.p == 0xff)) {
        return false;
    }
    return expect(ext, kOctetString, value) && ext.empty();
}

class Scanner {
  public:
    Scanner(const unsigned char* der, CrlLayout& layout) : m_der(der), m_layout(layout) {}

    // SEQUENCE { tbsCertList, signatureAlgorithm, signature BIT STRING }; the
    // signature in whole octets.
    bool certificateList(Span& in) {
        Span list;
        Span tbs;
        Span signature;
        return expect(in, kSequence, list) && expect(list, kSequence, tbs) && tbsCertList(tbs) &&
               algorithm(list) && expect(list, kBitString, signature) && !signature.empty() &&
               *signature.p == 0 && list.empty();
    }

  private:
    size_t offset(const unsigned char* p) const { return static_cast<size_t>(p - m_der); }

    // TBSCertList: version INTEGER OPTIONAL, signature, issuer, thisUpdate,
    // nextUpdate OPTIONAL, revokedCertificates OPTIONAL, [0] crlExtensions
    // OPTIONAL.
    bool tbsCertList(Span in) {
        CrlLayout& l = m_layout;
        Span version;
        if (in.at(kInteger) && !(expect(in, kInteger, version) && validInteger(version))) {
            return false;
        }
        if (!algorithm(in) || !issuer(in) || !readTime(in, &l.thisUpdateType, &l.thisUpdate)) {
            return false;
        }
        l.hasNextUpdate = isTime(in);
        if (l.hasNextUpdate && !readTime(in, &l.nextUpdateType, &l.nextUpdate)) {
            return false;
        }
        if (in.at(kSequence) && !revoked(in)) {
            return false;
        }
        if (in.at(kExplicit0) && !crlExtensions(in)) {
            return false;
        }
        return in.empty();
    }

    // Name: in DER form, and decoded by OpenSSL's own d2i_X509_NAME, which
    // checks its strings and fails for those with no UTF-8 form. A name inside
    // a definite length reads the same alone as inside the whole list.
    bool issuer(Span& in) {
        const unsigned char* start = in.p;
        Span name;
        if (!expect(in, kSequence, name) || !derForm(name, kNestMax)) {
            return false;
        }
        m_layout.issuerOffset = offset(start);
        m_layout.issuerLength = static_cast<long>(in.p - start);
        const unsigned char* p = start;
        ryx::UniquePtr<X509_NAME> decoded(d2i_X509_NAME(nullptr, &p, m_layout.issuerLength));
        ERR_clear_error();
        return decoded && p == in.p;
    }

    // revokedCertificates: SEQUENCE OF entry.
    bool revoked(Span& in) {
        Span entries;
        if (!expect(in, kSequence, entries)) {
            return false;
        }
        m_layout.entriesBegin = offset(entries.p);
        while (!entries.empty()) {
            if (!entry(entries)) {
                return false;
            }
        }
        m_layout.entriesEnd = offset(entries.end);
        return true;
    }

    // One revoked entry: SEQUENCE { serial INTEGER, date Time, extensions
    // OPTIONAL }.
    bool entry(Span& in) {
        const size_t at = offset(in.p);
        Span body;
        Span serial;
        if (!expect(in, kSequence, body) || !expect(body, kInteger, serial) ||
            !validInteger(serial) || !readTime(body, nullptr, nullptr)) {
            return false;
        }
        if (body.at(kSequence) && !entryExtensions(body)) {
            return false;
        }
        if (!body.empty()) {
            return false;
        }
        CrlLayout& l = m_layout;
        if (l.revokedCount % kCrlSampleStride == 0) {
            l.samples.push_back(static_cast<std::uint32_t>(at));
        }
        if (l.revokedCount > 0 && l.sorted &&
            compareSerials(m_lastSerial.p, m_lastSerial.size(), serial.p, serial.size()) > 0) {
            l.sorted = false;
        }
        m_lastSerial = serial;
        ++l.revokedCount;
        return true;
    }

    // The extensions of one entry: what matters to a look-up by serial number.
    bool entryExtensions(Span& in) {
        Span list;
        if (!expect(in, kSequence, list)) {
            return false;
        }
        int reasons = 0;
        bool plainReason = true;
        while (!list.empty()) {
            Span oid;
            Span value;
            if (!extension(list, oid, value)) {
                return false;
            }
            if (sameOID(oid, kCertificateIssuerOID)) {
                m_layout.plainEntries = false;
            } else if (sameOID(oid, kReasonCodeOID)) {
                ++reasons;
                // ENUMERATED of one octet, not removeFromCRL (8).
                plainReason = plainReason && value.size() == 3 && value.p[0] == 0x0a &&
                              value.p[1] == 0x01 && value.p[2] != 0x08;
            }
        }
        if (reasons > 1 || !plainReason) {
            m_layout.plainEntries = false;
        }
        return true;
    }

    // [0] EXPLICIT SEQUENCE OF Extension.
    bool crlExtensions(Span& in) {
        Span tagged;
        Span list;
        if (!expect(in, kExplicit0, tagged) || !expect(tagged, kSequence, list) ||
            !tagged.empty()) {
            return false;
        }
        int numbers = 0;
        while (!list.empty()) {
            Span oid;
            Span value;
            if (!extension(list, oid, value)) {
                return false;
            }
            if (sameOID(oid, kCrlNumberOID)) {
                ++numbers;
                m_layout.crlNumber.assign(reinterpret_cast<const char*>(value.p), value.size());
            }
        }
        // OpenSSL knows no CRL number when the extension is there twice.
        m_layout.hasCrlNumber = numbers == 1;
        return true;
    }

    const unsigned char* m_der;
    CrlLayout& m_layout;
    Span m_lastSerial;
};

}  // namespace

size_t scanCertificateList(const unsigned char* der, size_t length, CrlLayout& layout) {
    layout = CrlLayout();
    if (der == nullptr || length == 0 || length > static_cast<size_t>(INT_MAX)) {
        return 0;
    }
    Span in{der, der + length};
    if (!Scanner(der, layout).certificateList(in)) {
        layout = CrlLayout();
        return 0;
    }
    return static_cast<size_t>(in.p - der);
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
    if (offset >= end) {
        return false;
    }
    Span in{der + offset, der + end};
    Span entry;
    Span integer;
    if (!expect(in, kSequence, entry) || !expect(entry, kInteger, integer) || integer.empty()) {
        return false;
    }
    serial = integer.p;
    serialLength = integer.size();
    next = static_cast<size_t>(in.p - der);
    return true;
}

bool integerContent(const unsigned char* der, size_t length, const unsigned char*& content,
                    size_t& contentLength) {
    Span in{der, der + length};
    Span integer;
    if (!expect(in, kInteger, integer) || !in.empty() || integer.empty()) {
        return false;
    }
    content = integer.p;
    contentLength = integer.size();
    return true;
}

}  // namespace ryxasn_internal
