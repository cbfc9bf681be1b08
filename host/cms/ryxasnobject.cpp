// The base of the ASN.1 objects, and the OpenSSL helpers the ASN.1 units share.
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>

#include <climits>
#include <new>
#include <string>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxexception.h"

RYXASNObject::RYXASNObject(RYXASNSecurityType type) : m_securityType(type) {}

RYXASNObject::~RYXASNObject() = default;

RYXASNSecurityType RYXASNObject::getSecurityType() const {
    return m_securityType;
}

namespace ryxasn_internal {

std::string takeOpenSSLErrors() {
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    std::string text;
    unsigned long code;
    while ((code = ERR_get_error()) != 0) {
        char line[256];
        ERR_error_string_n(code, line, sizeof line);
        if (!text.empty()) {
            text += "; ";
        }
        text += line;
    }
    return text;
}

void throwASN(const char* file, int line, int code, const std::string& message) {
    std::string errors = takeOpenSSLErrors();
    std::string text = message;
    if (!errors.empty()) {
        text += " (" + errors + ")";
    }
    throw RYXASNException(file, line, code, RYXString(text.data(), text.size()));
}

void requireInput(const unsigned char* der, size_t length, const char* what, const char* file,
                  int line) {
    if (der == nullptr || length == 0) {
        throwASN(file, line, RYX_ERR_ASN_DECODE,
                 std::string("Unable to decode ") + what + ": no data");
    }
    if (length > static_cast<size_t>(INT_MAX)) {
        throwASN(file, line, RYX_ERR_ASN_DECODE,
                 std::string("Unable to decode ") + what + ": " + std::to_string(length) +
                     " bytes are too many");
    }
}

void requireAllUsed(size_t used, size_t length, const char* what, const char* file, int line) {
    if (used != length) {
        throwASN(file, line, RYX_ERR_ASN_DECODE,
                 std::string("Unable to decode ") + what + ": " + std::to_string(length - used) +
                     " bytes follow the " + std::to_string(used) + "-byte DER encoding");
    }
}

void forgetBytes(RYXBuffer& bytes, RYXASNSecurityType type) {
    if (type == RYXASN_SECURITY_SENSITIVE) {
        bytes.cleanse();
    }
}

ryx::UniquePtr<BIO> newMemoryBio() {
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return bio;
}

RYXString bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    if (length <= 0 || data == nullptr) {
        return RYXString();
    }
    return RYXString(data, static_cast<size_t>(length));
}

RYXString timeText(const ASN1_TIME* time) {
    if (time == nullptr) {
        return RYXString();
    }
    ryx::UniquePtr<BIO> bio = newMemoryBio();
    if (ASN1_TIME_print(bio.get(), time) != 1) {
        ERR_clear_error();
        return RYXString();
    }
    return bioText(bio.get());
}

}  // namespace ryxasn_internal
