#include "describe.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "ryxopensslptr.h"
#include "ryxpkix.h"

namespace ryxdir {

namespace {

template <typename Print>
std::string printed(Print print) {
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || !print(bio.get())) {
        return std::string();
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<size_t>(length)) : std::string();
}

// A time as OpenSSL prints it ("Jan  2 03:04:05 2027 GMT").
std::string timeText(const ASN1_TIME* time) {
    if (time == nullptr) {
        return std::string();
    }
    return printed([&](BIO* b) { return ASN1_TIME_print(b, time) == 1; });
}

// A time as ISO 8601 ("2027-01-02T03:04:05Z").
std::string timeIso(const ASN1_TIME* time) {
    return RYXPKIXValidator::isoTime(time);
}

template <typename BnText>
std::string integerText(const ASN1_INTEGER* number, BnText toText) {
    if (number == nullptr) {
        return std::string();
    }
    const ryx::UniquePtr<BIGNUM> bn(ASN1_INTEGER_to_BN(number, nullptr));
    const ryx::UniquePtr<char> text(bn ? toText(bn.get()) : nullptr);
    return text ? text.get() : "";
}

std::string serialHex(const X509* cert) {
    return integerText(X509_get0_serialNumber(cert), BN_bn2hex);
}

// The CRL number in decimal, "" when the list has none.
std::string crlNumber(const X509_CRL* crl) {
    const ryx::UniquePtr<ASN1_STRING> number(
        static_cast<ASN1_INTEGER*>(X509_CRL_get_ext_d2i(crl, NID_crl_number, nullptr, nullptr)));
    return integerText(number.get(), BN_bn2dec);
}

long revokedCount(const X509_CRL* crl) {
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(const_cast<X509_CRL*>(crl));
    return revoked != nullptr ? sk_X509_REVOKED_num(revoked) : 0;
}

void optionalMember(JsonWriter& json, const char* key, const std::string& text) {
    json.key(key);
    if (text.empty()) {
        json.null();
    } else {
        json.value(text);
    }
}

}  // namespace

std::string nameText(const X509_NAME* name) {
    return RYXPKIXValidator::nameText(name);
}

std::string fingerprint(const X509* cert) {
    return RYXPKIXValidator::fingerprint(cert);
}

std::string certificateText(const X509* cert) {
    return "subject=" + nameText(X509_get_subject_name(cert)) +
           " issuer=" + nameText(X509_get_issuer_name(cert)) + " serial=" + serialHex(cert) +
           " notAfter=" + timeText(X509_get0_notAfter(cert)) + " sha256=" + fingerprint(cert);
}

std::string crlText(const X509_CRL* crl) {
    std::string text = "issuer=" + nameText(X509_CRL_get_issuer(crl)) +
                       " thisUpdate=" + timeText(X509_CRL_get0_lastUpdate(crl));
    if (X509_CRL_get0_nextUpdate(crl) != nullptr) {
        text += " nextUpdate=" + timeText(X509_CRL_get0_nextUpdate(crl));
    }
    const std::string number = crlNumber(crl);
    if (!number.empty()) {
        text += " number=" + number;
    }
    return text + " revoked=" + std::to_string(revokedCount(crl));
}

namespace {

// The toolkit gives the CRL number in hex; lines and JSON show it in decimal.
std::string crlNumber(const RYXASNCertificateList& list) {
    const RYXString hex = list.getCRLNumber();
    BIGNUM* parsed = nullptr;
    const bool read = !hex.empty() && BN_hex2bn(&parsed, hex.c_str()) != 0;
    const ryx::UniquePtr<BIGNUM> number(parsed);
    const ryx::UniquePtr<char> decimal(read ? BN_bn2dec(number.get()) : nullptr);
    return decimal ? decimal.get() : "";
}

// ISO 8601 from a time as OpenSSL prints it ("Jan  2 03:04:05 2027 GMT").
std::string timeIso(const RYXString& printed) {
    struct tm tm = {};
    if (printed.empty() || strptime(printed.c_str(), "%b %d %H:%M:%S %Y GMT", &tm) == nullptr) {
        return std::string();
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

}  // namespace

std::string crlNumberText(const RYXASNCertificateList& list) {
    return crlNumber(list);
}

std::string crlText(const RYXASNCertificateList& list) {
    std::string text = "issuer=" + nameText(list.getIssuer().native()) +
                       " thisUpdate=" + list.getThisUpdate().c_str();
    const RYXString next = list.getNextUpdate();
    if (!next.empty()) {
        text += std::string(" nextUpdate=") + next.c_str();
    }
    const std::string number = crlNumber(list);
    if (!number.empty()) {
        text += " number=" + number;
    }
    return text + " revoked=" + std::to_string(list.getRevokedCount());
}

std::string base64(const unsigned char* bytes, size_t length) {
    std::string text(4 * ((length + 2) / 3) + 1, '\0');
    size_t written = 0;
    // EVP_EncodeBlock takes an int: long inputs go in pieces of whole triples.
    const size_t piece = 3 * (1 << 28);
    for (size_t done = 0; done < length; done += piece) {
        const size_t n = std::min(piece, length - done);
        written += static_cast<size_t>(EVP_EncodeBlock(
            reinterpret_cast<unsigned char*>(&text[written]), bytes + done, static_cast<int>(n)));
    }
    text.resize(written);
    return text;
}

void certificateJson(JsonWriter& json, const X509* cert) {
    json.member("subject", nameText(X509_get_subject_name(cert)));
    json.member("issuer", nameText(X509_get_issuer_name(cert)));
    json.member("serial", serialHex(cert));
    json.member("notBefore", timeIso(X509_get0_notBefore(cert)));
    json.member("notAfter", timeIso(X509_get0_notAfter(cert)));
    json.member("sha256", fingerprint(cert));
}

void crlJson(JsonWriter& json, const X509_CRL* crl) {
    json.member("issuer", nameText(X509_CRL_get_issuer(crl)));
    json.member("thisUpdate", timeIso(X509_CRL_get0_lastUpdate(crl)));
    optionalMember(json, "nextUpdate", timeIso(X509_CRL_get0_nextUpdate(crl)));
    optionalMember(json, "crlNumber", crlNumber(crl));
    json.member("revoked", revokedCount(crl));
}

void crlJson(JsonWriter& json, const RYXASNCertificateList& list) {
    json.member("issuer", nameText(list.getIssuer().native()));
    json.member("thisUpdate", timeIso(list.getThisUpdate()));
    optionalMember(json, "nextUpdate", timeIso(list.getNextUpdate()));
    optionalMember(json, "crlNumber", crlNumber(list));
    json.member("revoked", list.getRevokedCount());
}

}  // namespace ryxdir
