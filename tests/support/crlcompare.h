// A decoded revocation list of the host against OpenSSL's object for the same
// bytes: which encodings each takes, every accessor, and look-ups of the
// listed serial numbers and their neighbours. Shared by the unit tests and the
// differential fuzz target.
#ifndef CRLCOMPARE_H
#define CRLCOMPARE_H

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>

#include "ryxasn.h"
#include "ryxcrlscan.h"
#include "ryxexception.h"
#include "ryxopensslptr.h"

namespace crlcompare {

inline std::string text(const RYXString& s) {
    return std::string(s.data(), s.length());
}

inline std::string timeText(const ASN1_TIME* time) {
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    if (time == nullptr || ASN1_TIME_print(bio.get(), time) != 1) {
        ERR_clear_error();
        return "";
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(length));
}

inline std::string hexOf(const BIGNUM* number) {
    ryx::UniquePtr<char> hex(BN_bn2hex(number));
    return hex ? std::string(hex.get()) : std::string();
}

// The issuer's DER; an empty name as "empty" (the host copies it as "30 00"
// whatever its length form).
inline std::string issuerText(const X509_NAME* name) {
    unsigned char* out = nullptr;
    const int length = X509_NAME_entry_count(name) == 0 ? 0 : i2d_X509_NAME(name, &out);
    ryx::UniquePtr<unsigned char> owned(out);
    return length > 0 ? std::string(reinterpret_cast<char*>(out), length) : "empty";
}

inline std::string differs(const std::string& what, const std::string& ours,
                           const std::string& openssl) {
    return what + ": ours \"" + ours + "\", OpenSSL \"" + openssl + "\"";
}

// Up to 48 listed serial numbers (from both ends), each with its neighbours.
inline std::string compareLookups(const RYXASNCertificateList& list, X509_CRL* crl) {
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    const int count = revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked);
    for (int i = 0; i < count && i < 48; ++i) {
        const int index = i < 24 ? i : count - 1 - (i - 24);
        const ASN1_INTEGER* serial =
            X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(revoked, index));
        ryx::UniquePtr<BIGNUM> probe(ASN1_INTEGER_to_BN(serial, nullptr));
        // The serial number less one, itself, and plus one.
        for (int step = 0; probe && step < 3; ++step) {
            step == 0 ? BN_sub_word(probe.get(), 1) : BN_add_word(probe.get(), 1);
            const std::string hex = hexOf(probe.get());
            if (hex.size() > 1024) {
                continue;  // more than isRevoked takes
            }
            ryx::UniquePtr<ASN1_STRING> key(BN_to_ASN1_INTEGER(probe.get(), nullptr));
            X509_REVOKED* found = nullptr;
            const bool expected = X509_CRL_get0_by_serial(crl, &found, key.get()) == 1;
            if (list.isRevoked(hex.c_str()) != expected) {
                return differs("isRevoked(" + hex + ")", expected ? "no" : "yes",
                               expected ? "yes" : "no");
            }
        }
    }
    ERR_clear_error();
    return "";
}

// The first accessor whose answer differs, or an empty text.
inline std::string firstDifference(const RYXASNCertificateList& list, X509_CRL* crl,
                                   const unsigned char* data, size_t size) {
    const RYXASNCBuffer view = list.getDERView();
    if (view.getLength() != size || std::memcmp(view.getData(), data, size) != 0) {
        return differs("kept bytes", std::to_string(view.getLength()), std::to_string(size));
    }
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    const std::string count = std::to_string(revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked));
    int critical = 0;
    ryx::UniquePtr<ASN1_STRING> number(
        static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, &critical, nullptr)));
    ryx::UniquePtr<BIGNUM> numberValue(number ? ASN1_INTEGER_to_BN(number.get(), nullptr)
                                              : nullptr);
    ERR_clear_error();
    const struct {
        const char* what;
        std::string ours;
        std::string openssl;
    } answers[] = {
        {"revoked count", std::to_string(list.getRevokedCount()), count},
        {"issuer", issuerText(list.getIssuer().native()), issuerText(X509_CRL_get_issuer(crl))},
        {"thisUpdate", text(list.getThisUpdate()), timeText(X509_CRL_get0_lastUpdate(crl))},
        {"nextUpdate", text(list.getNextUpdate()), timeText(X509_CRL_get0_nextUpdate(crl))},
        {"CRL number", text(list.getCRLNumber()), numberValue ? hexOf(numberValue.get()) : ""},
    };
    for (const auto& answer : answers) {
        if (answer.ours != answer.openssl) {
            return differs(answer.what, answer.ours, answer.openssl);
        }
    }
    return compareLookups(list, crl);
}

// The scanner takes only what OpenSSL takes, to the same byte; the host's list
// accepts exactly what OpenSSL accepts (as one whole encoding), then answers as
// OpenSSL's object does, and the object it builds lazily from the kept bytes is
// the same list. The first difference, or an empty text.
inline std::string check(const unsigned char* data, size_t size) {
    const unsigned char* p = data;
    ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(size)));
    const bool opensslAccepts = crl && p == data + size;
    ERR_clear_error();
    ryxasn_internal::CrlLayout layout;
    const size_t scanned = ryxasn_internal::scanCertificateList(data, size, layout);
    if (scanned != 0 && (!crl || p != data + scanned)) {
        return differs("scanned length", std::to_string(scanned),
                       crl ? std::to_string(p - data) : "rejected");
    }
    RYXASNCertificateList list(RYXASN_SECURITY_NONE);
    std::string why = "accepted";
    try {
        list.decodeDER(data, size);
    } catch (const RYXASNException& e) {
        why = std::string("rejected: ") + e.what();
    }
    if ((why == "accepted") != opensslAccepts) {
        return differs("acceptance", why, opensslAccepts ? "accepted" : "rejected");
    }
    const std::string difference =
        opensslAccepts ? firstDifference(list, crl.get(), data, size) : "";
    if (!opensslAccepts || !difference.empty()) {
        return difference;
    }
    unsigned char *lazy = nullptr, *direct = nullptr;
    const int lazyLength = i2d_X509_CRL(list.native(), &lazy);
    const int directLength = i2d_X509_CRL(crl.get(), &direct);
    ryx::UniquePtr<unsigned char> lazyOwned(lazy), directOwned(direct);
    ERR_clear_error();
    if (lazyLength != directLength ||
        (lazyLength > 0 && std::memcmp(lazy, direct, lazyLength) != 0)) {
        return differs("native()", std::to_string(lazyLength), std::to_string(directLength));
    }
    return "";
}

}  // namespace crlcompare

#endif
