// Small pieces of the validation library: names and times as text, the
// distribution points of a certificate, and directory values decoded one by one.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <strings.h>
#include <cctype>
#include <cstring>
#include <map>

#include "pkixinternal.h"
#include "ryxexception.h"
#include "ryxutility.h"

namespace ryxpkix {

namespace {

bool printable(const std::string& bytes) {
    for (unsigned char c : bytes) {
        if (c != 0 && !std::isprint(c)) {
            return false;
        }
    }
    return true;
}

// The DER a value holds, or false for text that holds none (passed over).
bool derOf(const std::string& value, RYXBuffer& der) {
    if (value.compare(0, 5, "{ASN}") == 0 || value.compare(0, 5, "{Asn}") == 0) {
        std::string hex = value.substr(5);
        hex.erase(hex.find_last_not_of(std::string(" \r\n\t\0", 5)) + 1);
        der = RYXUtility::hexStringToBinary(hex.data(), hex.size());
        return true;
    }
    if (printable(value)) {
        return false;
    }
    der = RYXBuffer(static_cast<unsigned int>(value.size()),
                    reinterpret_cast<const unsigned char*>(value.data()));
    return true;
}

// Decodes each value with decode; a value that does not decode is noted.
template <typename Decode>
void decodeEach(const std::vector<RYXPKIXValueSource::Value>& values, const std::string& where,
                std::vector<std::string>& notes, Decode decode) {
    std::map<std::string, int> positions;
    for (const RYXPKIXValueSource::Value& v : values) {
        const int position = ++positions[v.attribute];
        try {
            RYXBuffer der;
            if (derOf(v.bytes, der)) {
                decode(der);
            }
        } catch (const RYXException& e) {
            notes.push_back(where + ": value " + std::to_string(position) + " of " + v.attribute +
                            " does not decode (" + e.getMessage().c_str() + "), passed over");
        }
    }
}

// The bytes of the element that starts at p (header and content), strict DER.
bool element(const unsigned char*& p, long remaining, const unsigned char*& begin, long& size) {
    long length = 0;
    int tag = 0, cls = 0;
    begin = p;
    const int info = ASN1_get_object(&p, &length, &tag, &cls, remaining);
    if ((info & 0x80) != 0 || info == 0x21) {
        return false;
    }
    size = static_cast<long>(p - begin) + length;
    return true;
}

}  // namespace

std::string nameText(const X509_NAME* name) {
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return std::string();
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

std::string fingerprint(const X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        return std::string();
    }
    ryx::UniquePtr<char> hex(OPENSSL_buf2hexstr(digest, length));
    return hex ? std::string(hex.get()) : std::string();
}

std::string nameKey(const X509_NAME* name) {
    const unsigned char* der = nullptr;
    size_t length = 0;
    if (X509_NAME_get0_der(const_cast<X509_NAME*>(name), &der, &length) != 1) {
        return nameText(name);
    }
    return std::string(reinterpret_cast<const char*>(der), length);
}

std::string isoTime(const ASN1_TIME* time) {
    struct tm tm = {};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        return std::string();
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::vector<std::string> distributionPoints(const X509* cert) {
    std::vector<std::string> uris;
    ryx::UniquePtr<CRL_DIST_POINTS> points(static_cast<CRL_DIST_POINTS*>(
        X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
    for (int i = 0; i < sk_DIST_POINT_num(points.get()); ++i) {
        const DIST_POINT* point = sk_DIST_POINT_value(points.get(), i);
        if (point->distpoint == nullptr || point->distpoint->type != 0) {
            continue;  // a name relative to the CRL issuer names no place
        }
        const GENERAL_NAMES* names = point->distpoint->name.fullname;
        for (int k = 0; k < sk_GENERAL_NAME_num(names); ++k) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, k);
            if (name->type == GEN_URI) {
                const ASN1_IA5STRING* uri = name->d.uniformResourceIdentifier;
                uris.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri)),
                                  static_cast<size_t>(ASN1_STRING_length(uri)));
            }
        }
    }
    ERR_clear_error();
    return uris;
}

std::string otherDescription(const std::string& url) {
    // ldap://host/dn?attributes?scope?filter?extensions
    const size_t query = url.find('?');
    if (query == std::string::npos) {
        return std::string();
    }
    const size_t end = std::min(url.find('?', query + 1), url.size());
    const std::string attributes = url.substr(query + 1, end - query - 1);
    if (attributes.empty()) {
        return std::string();
    }
    std::string other;
    size_t begin = 0;
    while (begin <= attributes.size()) {
        const size_t comma = std::min(attributes.find(',', begin), attributes.size());
        std::string name = attributes.substr(begin, comma - begin);
        const size_t option = name.size() >= 7 ? name.size() - 7 : std::string::npos;
        if (option != std::string::npos && strcasecmp(name.c_str() + option, ";binary") == 0) {
            name.erase(option);
        } else {
            name += ";binary";
        }
        other += (other.empty() ? "" : ",") + name;
        begin = comma + 1;
    }
    return url.substr(0, query + 1) + other + url.substr(end);
}

std::vector<ListPtr> decodeLists(const std::vector<RYXPKIXValueSource::Value>& values,
                                 const std::string& where, std::vector<std::string>& notes) {
    std::vector<ListPtr> lists;
    decodeEach(values, where, notes, [&](const RYXBuffer& der) {
        auto list = std::make_shared<RYXASNCertificateList>(RYXASNSecurityType(0));
        list->decodeDER(der.getValue(), der.getLength());
        lists.push_back(std::move(list));
    });
    return lists;
}

std::vector<X509Ptr> decodeCertificates(const std::vector<RYXPKIXValueSource::Value>& values,
                                        const std::string& where, std::vector<std::string>& notes) {
    std::vector<X509Ptr> certs;
    decodeEach(values, where, notes, [&](const RYXBuffer& der) {
        RYXASNx509Certificate cert{RYXASNSecurityType(0)};
        cert.decodeDER(der.getValue(), der.getLength());
        certs.push_back(shared(cached(cert.native())));
    });
    return certs;
}

bool listSignedBy(const RYXASNCertificateList& list, EVP_PKEY* key) {
    if (key == nullptr) {
        return false;
    }
    // CertificateList ::= SEQUENCE { tbsCertList, signatureAlgorithm, signatureValue }
    const RYXASNCBuffer der = list.getDERView();
    const unsigned char* p = der.getData();
    long length = 0;
    int tag = 0, cls = 0;
    const int info = ASN1_get_object(&p, &length, &tag, &cls, static_cast<long>(der.getLength()));
    const unsigned char* tbs = nullptr;
    long tbsSize = 0;
    bool ok = (info & 0x80) == 0 && info != 0x21 && element(p, length, tbs, tbsSize);
    if (ok) {
        p = tbs + tbsSize;
        const unsigned char* end = der.getData() + der.getLength();
        ryx::UniquePtr<X509_ALGOR> alg(d2i_X509_ALGOR(nullptr, &p, end - p));
        ryx::UniquePtr<ASN1_STRING> sig(d2i_ASN1_BIT_STRING(nullptr, &p, end - p));
        int mdNid = NID_undef, keyNid = NID_undef;
        const ASN1_OBJECT* oid = nullptr;
        if (alg) {
            X509_ALGOR_get0(&oid, nullptr, nullptr, alg.get());
        }
        ok = alg && sig && OBJ_find_sigid_algs(OBJ_obj2nid(oid), &mdNid, &keyNid) == 1 &&
             keyNid != NID_rsassaPss;
        if (ok) {
            const EVP_MD* md = mdNid == NID_undef ? nullptr : EVP_get_digestbynid(mdNid);
            ryx::UniquePtr<EVP_MD_CTX> ctx(EVP_MD_CTX_new());
            ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
                 EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(sig.get()),
                                  static_cast<size_t>(ASN1_STRING_length(sig.get())), tbs,
                                  static_cast<size_t>(tbsSize)) == 1;
            ERR_clear_error();
            return ok;
        }
    }
    // Other forms and algorithms: OpenSSL's object decides.
    ERR_clear_error();
    const bool verified = X509_CRL_verify(const_cast<X509_CRL*>(list.native()), key) == 1;
    ERR_clear_error();
    return verified;
}

}  // namespace ryxpkix
