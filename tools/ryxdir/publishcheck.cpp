#include "publishcheck.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cctype>

#include "describe.h"
#include "ryxasn.h"
#include "ryxexception.h"
#include "ryxopensslptr.h"

namespace ryxdir {

namespace {

bool isPemText(const std::string& bytes) {
    const size_t start = bytes.find_first_not_of(" \t\r\n");
    return start != std::string::npos && bytes.compare(start, 11, "-----BEGIN ") == 0;
}

// The DER inside the first PEM block labelled label; empty when there is none.
std::string pemBody(const std::string& bytes, const char* label) {
    ryx::UniquePtr<BIO> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    unsigned char* data = nullptr;
    long length = 0;
    if (!bio ||
        PEM_bytes_read_bio(&data, &length, nullptr, label, bio.get(), nullptr, nullptr) != 1) {
        return std::string();
    }
    ryx::UniquePtr<unsigned char> owned(data);
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

// Decodes der with d2i; the object only when every byte was used and i2d gives
// the same bytes back.
template <typename T, typename Ptr>
Ptr strictDer(const std::string& der, T* (*d2i)(T**, const unsigned char**, long),
              int (*i2d)(const T*, unsigned char**)) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    Ptr object(d2i(nullptr, &p, static_cast<long>(der.size())));
    if (!object || p != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) {
        return Ptr();
    }
    unsigned char* out = nullptr;
    const int length = i2d(object.get(), &out);
    ryx::UniquePtr<unsigned char> owned(out);
    if (length != static_cast<int>(der.size()) ||
        der.compare(0, der.size(), reinterpret_cast<char*>(out), static_cast<size_t>(length)) !=
            0) {
        return Ptr();
    }
    return object;
}

ryx::UniquePtr<ASN1_INTEGER> crlNumber(const X509_CRL* crl) {
    return ryx::UniquePtr<ASN1_INTEGER>(
        static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, nullptr, nullptr)));
}

// The issuing distribution point's encoding; empty without one.
std::string scopeOf(const X509_CRL* crl) {
    const int at = X509_CRL_get_ext_by_NID(crl, NID_issuing_distribution_point, -1);
    if (at < 0) {
        return std::string();
    }
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_CRL_get_ext(crl, at));
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(data)),
                       static_cast<size_t>(ASN1_STRING_length(data)));
}

// The list's DER without its entries: the signed part with its
// revokedCertificates left out, then the signature algorithm and value as they
// stand. Skips the entries by their length, so its cost does not grow with the
// list. Empty when der is not one definite-length list with nothing after it.
std::string withoutEntries(const std::string& der) {
    const unsigned char* const begin = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* const end = begin + der.size();
    const unsigned char* p = begin;
    long length = 0;
    int tag = 0, cls = 0;
    if (der.empty() || ASN1_get_object(&p, &length, &tag, &cls, end - p) != 0x20 ||
        p + length != end) {
        return std::string();
    }
    const unsigned char* q = p;
    if (ASN1_get_object(&q, &length, &tag, &cls, end - q) != 0x20) {
        return std::string();
    }
    const unsigned char* const tbsEnd = q + length;
    std::string kept;
    bool timeSeen = false;
    while (q < tbsEnd) {
        const unsigned char* element = q;
        const int info = ASN1_get_object(&q, &length, &tag, &cls, tbsEnd - q);
        if ((info & 0x80) != 0 || info == 0x21) {
            return std::string();
        }
        q += length;
        const bool universal = cls == V_ASN1_UNIVERSAL;
        if (universal && (tag == V_ASN1_UTCTIME || tag == V_ASN1_GENERALIZEDTIME)) {
            timeSeen = true;
        } else if (universal && tag == V_ASN1_SEQUENCE && timeSeen) {
            continue;  // revokedCertificates
        }
        kept.append(reinterpret_cast<const char*>(element), static_cast<size_t>(q - element));
    }
    const std::string rest(reinterpret_cast<const char*>(tbsEnd),
                           static_cast<size_t>(end - tbsEnd));
    const auto sequence = [](const std::string& content) {
        const int size = ASN1_object_size(1, static_cast<int>(content.size()), V_ASN1_SEQUENCE);
        std::string out(static_cast<size_t>(size < 0 ? 0 : size), '\0');
        unsigned char* w = reinterpret_cast<unsigned char*>(&out[0]);
        ASN1_put_object(&w, 1, static_cast<int>(content.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
        out.replace(out.size() - content.size(), content.size(), content);
        return out;
    };
    return sequence(sequence(kept) + rest);
}

ListCheck refused(ListVerdict verdict, const std::string& why) {
    return ListCheck{verdict, why};
}

// Whether the signature over the list's DER verifies with key: the digest of
// the signed part and the signature value, read from the outer structure.
bool signedBy(const std::string& der, EVP_PKEY* key) {
    const unsigned char* begin = reinterpret_cast<const unsigned char*>(der.data());
    const unsigned char* end = begin + der.size();
    const unsigned char* p = begin;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(der.size())) != 0x20) {
        return false;
    }
    const unsigned char* tbs = p;
    if (ASN1_get_object(&p, &length, &tag, &cls, end - p) != 0x20) {
        return false;
    }
    p += length;
    const long tbsSize = p - tbs;
    ryx::UniquePtr<X509_ALGOR> alg(d2i_X509_ALGOR(nullptr, &p, end - p));
    ryx::UniquePtr<ASN1_STRING> sig(d2i_ASN1_BIT_STRING(nullptr, &p, end - p));
    const ASN1_OBJECT* oid = nullptr;
    int mdNid = NID_undef, keyNid = NID_undef;
    if (alg) {
        X509_ALGOR_get0(&oid, nullptr, nullptr, alg.get());
    }
    if (!alg || !sig || OBJ_find_sigid_algs(OBJ_obj2nid(oid), &mdNid, &keyNid) != 1 ||
        keyNid == NID_rsassaPss) {
        // Other algorithms: OpenSSL's whole object decides.
        ryx::UniquePtr<X509_CRL> whole(
            d2i_X509_CRL(nullptr, &begin, static_cast<long>(der.size())));
        return whole && X509_CRL_verify(whole.get(), key) == 1;
    }
    const EVP_MD* md = mdNid == NID_undef ? nullptr : EVP_get_digestbynid(mdNid);
    ryx::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
           EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(sig.get()),
                            static_cast<size_t>(ASN1_STRING_length(sig.get())), tbs,
                            static_cast<size_t>(tbsSize)) == 1;
}

ListCheck checkSignature(const DecodedList& list,
                         const std::vector<ryx::UniquePtr<X509>>& issuers) {
    const X509_CRL* crl = list.object.get();
    bool named = false;
    for (const ryx::UniquePtr<X509>& cert : issuers) {
        if (X509_NAME_cmp(X509_get_subject_name(cert.get()), X509_CRL_get_issuer(crl)) != 0) {
            continue;
        }
        named = true;
        EVP_PKEY* key = X509_get0_pubkey(cert.get());
        const bool verified = key != nullptr && signedBy(list.der, key);
        ERR_clear_error();
        if (verified) {
            return ListCheck();
        }
    }
    const std::string issuer = nameText(X509_CRL_get_issuer(crl));
    if (!named) {
        return refused(ListVerdict::NoIssuerCert,
                       "no CA certificate of " + issuer + " to check the signature with");
    }
    return refused(ListVerdict::BadSignature,
                   "the signature does not verify with any CA certificate of " + issuer);
}

ListCheck checkNumber(const X509_CRL* crl, const std::vector<const X509_CRL*>& current) {
    const ryx::UniquePtr<ASN1_INTEGER> number = crlNumber(crl);
    for (const X509_CRL* old : current) {
        if (!sameIssuerAndScope(crl, old)) {
            continue;
        }
        const ryx::UniquePtr<ASN1_INTEGER> oldNumber = crlNumber(old);
        if (!number || !oldNumber) {
            return refused(ListVerdict::NotNewer,
                           "a list without a CRL number cannot be ordered against the one "
                           "already published");
        }
        if (ASN1_INTEGER_cmp(number.get(), oldNumber.get()) <= 0) {
            return refused(ListVerdict::NotNewer, "CRL number " + crlNumberText(crl) +
                                                      " is not greater than number " +
                                                      crlNumberText(old) + " already published");
        }
    }
    return ListCheck();
}

}  // namespace

DecodedList decodeList(const std::string& bytes, bool scan) {
    DecodedList d;
    d.der = isPemText(bytes) ? pemBody(bytes, PEM_STRING_X509_CRL) : bytes;
    if (scan) {
        RYXASNCertificateList list(RYXASN_SECURITY_NONE);
        try {
            list.decodeDER(reinterpret_cast<const unsigned char*>(d.der.data()), d.der.size());
        } catch (const RYXException&) {
            return d;
        }
    }
    const std::string head = withoutEntries(d.der);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(head.data());
    d.object.reset(head.empty() ? nullptr
                                : d2i_X509_CRL(nullptr, &p, static_cast<long>(head.size())));
    ERR_clear_error();
    return d;
}

DecodedCert decodeCert(const std::string& bytes) {
    DecodedCert d;
    d.der = isPemText(bytes) ? pemBody(bytes, PEM_STRING_X509) : bytes;
    d.object = strictDer<X509, ryx::UniquePtr<X509>>(d.der, d2i_X509, i2d_X509);
    return d;
}

std::string derOfValue(const std::string& value) {
    if (value.compare(0, 5, "{ASN}") == 0 || value.compare(0, 5, "{Asn}") == 0) {
        std::string hex = value.substr(5);
        hex.erase(hex.find_last_not_of(std::string(" \r\n\t\0", 5)) + 1);
        long length = 0;
        ryx::UniquePtr<unsigned char> der(OPENSSL_hexstr2buf(hex.c_str(), &length));
        return der ? std::string(reinterpret_cast<char*>(der.get()), static_cast<size_t>(length))
                   : std::string();
    }
    for (unsigned char c : value) {
        if (c != 0 && !std::isprint(c)) {
            return value;  // binary: DER
        }
    }
    return std::string();  // other text
}

bool coversOnlyCAs(const X509_CRL* crl) {
    ryx::UniquePtr<ISSUING_DIST_POINT> idp(static_cast<ISSUING_DIST_POINT*>(
        X509_CRL_get_ext_d2i(crl, NID_issuing_distribution_point, nullptr, nullptr)));
    return idp && idp->onlyCA > 0;
}

bool sameIssuerAndScope(const X509_CRL* a, const X509_CRL* b) {
    return X509_NAME_cmp(X509_CRL_get_issuer(a), X509_CRL_get_issuer(b)) == 0 &&
           scopeOf(a) == scopeOf(b);
}

std::string crlNumberText(const X509_CRL* crl) {
    const ryx::UniquePtr<ASN1_INTEGER> number = crlNumber(crl);
    ryx::UniquePtr<BIGNUM> bn(number ? ASN1_INTEGER_to_BN(number.get(), nullptr) : nullptr);
    ryx::UniquePtr<char> text(bn ? BN_bn2dec(bn.get()) : nullptr);
    return text ? std::string(text.get()) : std::string();
}

ListCheck checkList(const DecodedList& list, const std::vector<ryx::UniquePtr<X509>>& issuers,
                    const std::vector<const X509_CRL*>& current, std::time_t now, bool force) {
    const X509_CRL* crl = list.object.get();
    ListCheck check = checkSignature(list, issuers);
    if (check.verdict != ListVerdict::Ok || force) {
        return check;
    }
    check = checkNumber(crl, current);
    if (check.verdict != ListVerdict::Ok) {
        return check;
    }
    const ASN1_TIME* next = X509_CRL_get0_nextUpdate(crl);
    if (next != nullptr && X509_cmp_time(next, &now) < 0) {
        return refused(ListVerdict::Expired, "the list is past its next update");
    }
    return ListCheck();
}

}  // namespace ryxdir
