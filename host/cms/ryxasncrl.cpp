// Certificate revocation lists, decoded lazily. Lists with a million entries are
// common enough to matter: OpenSSL's X509_CRL for one takes about ten times the
// memory of its 22 MB of DER and most of the time of a retrieval, while the
// toolkit mostly stores, counts and forwards lists. So decodeDER reads a list in
// strict DER in one pass with the scanner of ryxcrlscan, keeps the bytes with
// the little it needs to answer from them, and builds the X509_CRL only when
// native() is asked for it. Any other encoding is OpenSSL's to judge: such a
// list is decoded by d2i_X509_CRL at once and answers from OpenSSL's object.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxcrlscan.h"
#include "ryxexception.h"

using ryxasn_internal::CrlLayout;

namespace {

const char* const kWhat = "certificate revocation list";

// Where a serial number and its entry lie in the bytes.
struct SerialRef {
    std::uint32_t offset;
    std::uint32_t length;
    std::uint32_t entry;
};

// A DER length field.
std::string derLength(size_t length) {
    if (length < 0x80) {
        return std::string(1, static_cast<char>(length));
    }
    std::string bytes;
    for (size_t n = length; n != 0; n >>= 8) {
        bytes.insert(bytes.begin(), static_cast<char>(n & 0xff));
    }
    return static_cast<char>(0x80 | bytes.size()) + bytes;
}

std::string sequence(const std::string& content) {
    return '\x30' + derLength(content.size()) + content;
}

// The header of the definite-length element at p: its content's place.
bool header(const unsigned char* base, size_t begin, size_t end, size_t& content,
            size_t& contentEnd) {
    const unsigned char* p = base + begin;
    long length = 0;
    int tag = 0, cls = 0;
    const int info = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(end - begin));
    if ((info & 0x80) != 0 || info == 0x21) {
        ERR_clear_error();
        return false;
    }
    content = static_cast<size_t>(p - base);
    contentEnd = content + static_cast<size_t>(length);
    return contentEnd <= end;
}

RYXString timeText(int type, const std::string& content) {
    ryx::UniquePtr<ASN1_STRING> time(ASN1_STRING_type_new(type));
    if (!time ||
        ASN1_STRING_set(time.get(), content.data(), static_cast<int>(content.size())) != 1) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return ryxasn_internal::timeText(time.get());
}

}  // namespace

struct RYXASNCertificateList::Impl {
    RYXBuffer der;
    bool scanned = false;  // layout describes der; otherwise crl holds the list
    CrlLayout layout;

    // Built on demand under the mutex, read without it once published.
    mutable std::mutex mutex;
    mutable std::atomic<X509_CRL*> crl{nullptr};
    mutable std::atomic<bool> indexed{false};
    mutable std::vector<SerialRef> serials;  // all serial numbers, sorted

    ~Impl() { ryx::UniquePtr<X509_CRL> owner(crl.load()); }

    const unsigned char* bytes() const { return der.getValue(); }

    X509_CRL* openssl() const {
        X509_CRL* built = crl.load(std::memory_order_acquire);
        if (built != nullptr) {
            return built;
        }
        std::lock_guard<std::mutex> lock(mutex);
        built = crl.load(std::memory_order_relaxed);
        if (built == nullptr) {
            built = ryxasn_internal::decodeStrict<X509_CRL>(bytes(), der.getLength(), d2i_X509_CRL,
                                                            kWhat, __FILE__, __LINE__)
                        .release();
            crl.store(built, std::memory_order_release);
        }
        return built;
    }

    // Whether an entry has the serial number given by its DER content octets.
    bool contains(const unsigned char* key, size_t keyLength) const {
        size_t offset = 0;
        return find(key, keyLength, offset);
    }

    // The offset of the entry with the serial number given by its content octets.
    bool find(const unsigned char* key, size_t keyLength, size_t& entryOffset) const {
        if (layout.revokedCount == 0) {
            return false;
        }
        return layout.sorted ? containsSorted(key, keyLength, entryOffset)
                             : containsIndexed(key, keyLength, entryOffset);
    }

    // Entries in order: the last sample not above the key, then at most one
    // stride of entries from it.
    bool containsSorted(const unsigned char* key, size_t keyLength, size_t& entryOffset) const {
        const std::vector<std::uint32_t>& samples = layout.samples;
        size_t low = 0;
        size_t high = samples.size();
        while (high - low > 1) {
            const size_t middle = low + (high - low) / 2;
            const unsigned char* serial = nullptr;
            size_t length = 0;
            size_t next = 0;
            if (!entry(samples[middle], serial, length, next)) {
                return false;
            }
            if (ryxasn_internal::compareSerials(serial, length, key, keyLength) <= 0) {
                low = middle;
            } else {
                high = middle;
            }
        }
        size_t offset = samples[low];
        for (size_t i = 0; i < ryxasn_internal::kCrlSampleStride && offset < layout.entriesEnd;
             ++i) {
            const unsigned char* serial = nullptr;
            size_t length = 0;
            entryOffset = offset;
            if (!entry(offset, serial, length, offset)) {
                return false;
            }
            const int order = ryxasn_internal::compareSerials(serial, length, key, keyLength);
            if (order >= 0) {
                return order == 0;
            }
        }
        return false;
    }

    // Entries out of order: every serial number, sorted once on the first
    // look-up (as OpenSSL sorts its entries then).
    bool containsIndexed(const unsigned char* key, size_t keyLength, size_t& entryOffset) const {
        if (!indexed.load(std::memory_order_acquire)) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!indexed.load(std::memory_order_relaxed)) {
                buildIndex();
                indexed.store(true, std::memory_order_release);
            }
        }
        const unsigned char* base = bytes();
        auto it = std::lower_bound(serials.begin(), serials.end(), key,
                                   [base, keyLength](const SerialRef& a, const unsigned char* k) {
                                       return ryxasn_internal::compareSerials(
                                                  base + a.offset, a.length, k, keyLength) < 0;
                                   });
        if (it == serials.end() ||
            ryxasn_internal::compareSerials(base + it->offset, it->length, key, keyLength) != 0) {
            return false;
        }
        entryOffset = it->entry;
        return true;
    }

    void buildIndex() const {
        std::vector<SerialRef> all;
        all.reserve(layout.revokedCount);
        size_t offset = layout.entriesBegin;
        while (offset < layout.entriesEnd) {
            const unsigned char* serial = nullptr;
            size_t length = 0;
            const size_t start = offset;
            if (!entry(offset, serial, length, offset)) {
                break;
            }
            all.push_back(SerialRef{static_cast<std::uint32_t>(serial - bytes()),
                                    static_cast<std::uint32_t>(length),
                                    static_cast<std::uint32_t>(start)});
        }
        const unsigned char* base = bytes();
        std::sort(all.begin(), all.end(), [base](const SerialRef& a, const SerialRef& b) {
            return ryxasn_internal::compareSerials(base + a.offset, a.length, base + b.offset,
                                                   b.length) < 0;
        });
        serials.swap(all);
    }

    bool entry(size_t offset, const unsigned char*& serial, size_t& length, size_t& next) const {
        return ryxasn_internal::entrySerial(bytes(), offset, layout.entriesEnd, serial, length,
                                            next);
    }
};

namespace {

// The list's state; throws before a value was decoded.
template <typename Impl>
const Impl& requireValue(const Impl* impl) {
    if (impl == nullptr) {
        ryxasn_internal::throwASN(__FILE__, __LINE__, RYX_ERR_ASN_STATE,
                                  "The certificate revocation list holds no value");
    }
    return *impl;
}

}  // namespace

RYXASNCertificateList::RYXASNCertificateList(RYXASNSecurityType type)
    : RYXASNObject(type), m_impl(nullptr) {}

RYXASNCertificateList::~RYXASNCertificateList() {
    if (m_impl != nullptr) {
        ryxasn_internal::forgetBytes(m_impl->der, getSecurityType());
        delete m_impl;
    }
}

RYXString RYXASNCertificateList::getClassName() const {
    return RYXString("RYXASNCertificateList");
}

void RYXASNCertificateList::decodeDER(const unsigned char* der, size_t length) {
    ryxasn_internal::requireInput(der, length, kWhat, __FILE__, __LINE__);
    auto impl = std::make_unique<Impl>();
    const size_t used = ryxasn_internal::scanCertificateList(der, length, impl->layout);
    impl->scanned = used != 0;
    if (impl->scanned) {
        ryxasn_internal::requireAllUsed(used, length, kWhat, __FILE__, __LINE__);
    } else {
        impl->crl.store(ryxasn_internal::decodeStrict<X509_CRL>(der, length, d2i_X509_CRL, kWhat,
                                                                __FILE__, __LINE__)
                            .release());
        impl->layout.plainEntries = false;  // look-ups go to OpenSSL
    }
    impl->der = RYXBuffer(static_cast<unsigned int>(length), der);
    std::unique_ptr<Impl> old(std::exchange(m_impl, impl.release()));
    if (old) {
        ryxasn_internal::forgetBytes(old->der, getSecurityType());
    }
}

RYXBuffer RYXASNCertificateList::getDEREncoding() const {
    return requireValue(m_impl).der;
}

RYXASNCBuffer RYXASNCertificateList::getDERView() const {
    return requireValue(m_impl).der.get();
}

bool RYXASNCertificateList::hasValue() const {
    return m_impl != nullptr;
}

RYXASNx500Name RYXASNCertificateList::getIssuer() const {
    const Impl& impl = requireValue(m_impl);
    if (!impl.scanned) {
        return RYXASNx500Name(X509_CRL_get_issuer(impl.openssl()));
    }
    // The name read again from its place, as the scanner had OpenSSL read it.
    const unsigned char* p = impl.bytes() + impl.layout.issuerOffset;
    ryx::UniquePtr<X509_NAME> name(d2i_X509_NAME(nullptr, &p, impl.layout.issuerLength));
    if (!name) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return RYXASNx500Name(name.get());
}

RYXString RYXASNCertificateList::getThisUpdate() const {
    const Impl& impl = requireValue(m_impl);
    if (!impl.scanned) {
        return ryxasn_internal::timeText(X509_CRL_get0_lastUpdate(impl.openssl()));
    }
    return timeText(impl.layout.thisUpdateType, impl.layout.thisUpdate);
}

RYXString RYXASNCertificateList::getNextUpdate() const {
    const Impl& impl = requireValue(m_impl);
    if (!impl.scanned) {
        const ASN1_TIME* next = X509_CRL_get0_nextUpdate(impl.openssl());
        return next == nullptr ? RYXString() : ryxasn_internal::timeText(next);
    }
    if (!impl.layout.hasNextUpdate) {
        return RYXString();
    }
    return timeText(impl.layout.nextUpdateType, impl.layout.nextUpdate);
}

RYXString RYXASNCertificateList::getCRLNumber() const {
    const Impl& impl = requireValue(m_impl);
    ryx::UniquePtr<ASN1_INTEGER> number;
    if (!impl.scanned) {
        number.reset(static_cast<ASN1_INTEGER*>(
            X509_CRL_get_ext_d2i(impl.openssl(), NID_crl_number, nullptr, nullptr)));
    } else if (impl.layout.hasCrlNumber) {
        // Read as OpenSSL reads an extension's value: bytes after the INTEGER
        // are ignored, a value that does not decode is no number.
        const std::string& value = impl.layout.crlNumber;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(value.data());
        number.reset(d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(value.size())));
    }
    ERR_clear_error();
    return number ? ryxasn_internal::integerHex(number.get()) : RYXString();
}

long RYXASNCertificateList::getRevokedCount() const {
    const Impl& impl = requireValue(m_impl);
    if (!impl.scanned) {
        STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(impl.openssl());
        return revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked);
    }
    return static_cast<long>(impl.layout.revokedCount);
}

namespace {

// A serial number in hex as the content octets of its DER INTEGER.
ryx::UniquePtr<ASN1_STRING> serialNumber(const char* serialHex) {
    size_t length = serialHex == nullptr ? 0 : std::strlen(serialHex);
    BIGNUM* parsed = nullptr;
    const bool whole =
        length != 0 && length <= 1024 && BN_hex2bn(&parsed, serialHex) == static_cast<int>(length);
    ryx::UniquePtr<BIGNUM> number(parsed);
    if (!whole) {
        ERR_clear_error();
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           RYXString("Not a hex serial number: \"") +
                               RYXString(serialHex == nullptr ? "(null)" : serialHex) + "\"");
    }
    ryx::UniquePtr<ASN1_STRING> serial(BN_to_ASN1_INTEGER(number.get(), nullptr));
    if (!serial) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return serial;
}

std::string contentOctets(const ASN1_STRING* serial) {
    unsigned char* der = nullptr;
    const int derLength = i2d_ASN1_INTEGER(serial, &der);
    ryx::UniquePtr<unsigned char> owned(der);
    const unsigned char* content = nullptr;
    size_t contentLength = 0;
    if (derLength <= 0 || !ryxasn_internal::integerContent(der, static_cast<size_t>(derLength),
                                                           content, contentLength)) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return std::string(reinterpret_cast<const char*>(content), contentLength);
}

}  // namespace

bool RYXASNCertificateList::isRevoked(const char* serialHex) const {
    const Impl& impl = requireValue(m_impl);
    ryx::UniquePtr<ASN1_STRING> serial = serialNumber(serialHex);
    if (!impl.layout.plainEntries) {
        // Entries of other issuers or marked removeFromCRL, or a list the
        // scanner left to OpenSSL: OpenSSL decides.
        X509_REVOKED* entry = nullptr;
        int found = X509_CRL_get0_by_serial(impl.openssl(), &entry, serial.get());
        ERR_clear_error();
        return found == 1;
    }
    const std::string key = contentOctets(serial.get());
    return impl.contains(reinterpret_cast<const unsigned char*>(key.data()), key.size());
}

RYXBuffer RYXASNCertificateList::getNarrowedDER(const std::vector<std::string>& serialsHex) const {
    const Impl& impl = requireValue(m_impl);
    const CrlLayout& layout = impl.layout;
    if (!layout.plainEntries) {
        return RYXBuffer();
    }
    if (layout.revokedCount == 0) {
        return impl.der;
    }
    // CertificateList ::= SEQUENCE { TBSCertList, AlgorithmIdentifier, BIT STRING }: the
    // revoked certificates' SEQUENCE is the TBS element whose content begins at
    // the first entry.
    const unsigned char* base = impl.bytes();
    const size_t end = impl.der.getLength();
    size_t outer = 0, outerEnd = 0, tbs = 0, tbsEnd = 0;
    if (!header(base, 0, end, outer, outerEnd) || !header(base, outer, outerEnd, tbs, tbsEnd)) {
        return RYXBuffer();
    }
    size_t revoked = tbs, content = 0, contentEnd = 0;
    while (revoked < tbsEnd && header(base, revoked, tbsEnd, content, contentEnd) &&
           content != layout.entriesBegin) {
        revoked = contentEnd;
    }
    if (content != layout.entriesBegin || contentEnd != layout.entriesEnd) {
        return RYXBuffer();
    }
    std::string entries;
    for (const std::string& hex : serialsHex) {
        const std::string key = contentOctets(serialNumber(hex.c_str()).get());
        size_t offset = 0, next = 0, length = 0;
        const unsigned char* serial = nullptr;
        if (impl.find(reinterpret_cast<const unsigned char*>(key.data()), key.size(), offset) &&
            impl.entry(offset, serial, length, next)) {
            entries.append(reinterpret_cast<const char*>(base + offset), next - offset);
        }
    }
    const auto bytes = [base](size_t from, size_t to) {
        return std::string(reinterpret_cast<const char*>(base + from), to - from);
    };
    const std::string tbsList =
        sequence(bytes(tbs, revoked) + (entries.empty() ? std::string() : sequence(entries)) +
                 bytes(contentEnd, tbsEnd));
    // The signature algorithm stays; the signature value goes (an empty BIT
    // STRING), so that a check of the copy fails at once instead of costing a
    // public-key operation.
    size_t algorithm = 0, algorithmEnd = 0;
    if (!header(base, tbsEnd, outerEnd, algorithm, algorithmEnd)) {
        return RYXBuffer();
    }
    const std::string emptySignature("\x03\x01\x00", 3);
    const std::string list = sequence(tbsList + bytes(tbsEnd, algorithmEnd) + emptySignature);
    return RYXBuffer(static_cast<unsigned int>(list.size()),
                     reinterpret_cast<const unsigned char*>(list.data()));
}

const X509_crl_st* RYXASNCertificateList::native() const {
    return m_impl == nullptr ? nullptr : m_impl->openssl();
}
