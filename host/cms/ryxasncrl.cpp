// Certificate revocation lists: OpenSSL's X509_CRL, decoded from strict DER in one
// pass (lists with a million entries are common enough to matter).
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxexception.h"

namespace {

const char* const kWhat = "certificate revocation list";

void requireValue(const X509_CRL* crl) {
    if (crl == nullptr) {
        ryxasn_internal::throwASN(__FILE__, __LINE__, RYX_ERR_ASN_STATE,
                                  "The certificate revocation list holds no value");
    }
}

}  // namespace

RYXASNCertificateList::RYXASNCertificateList(RYXASNSecurityType type)
    : RYXASNObject(type), m_crl(nullptr) {}

RYXASNCertificateList::~RYXASNCertificateList() {
    X509_CRL_free(m_crl);
}

RYXString RYXASNCertificateList::getClassName() const {
    return RYXString("RYXASNCertificateList");
}

void RYXASNCertificateList::decodeDER(const unsigned char* der, size_t length) {
    X509_CRL* crl = ryxasn_internal::decodeStrict<X509_CRL>(
        der, length, d2i_X509_CRL, X509_CRL_free, kWhat, __FILE__, __LINE__);
    X509_CRL_free(m_crl);
    m_crl = crl;
}

RYXBuffer RYXASNCertificateList::getDEREncoding() const {
    return ryxasn_internal::encodeDER<X509_CRL>(m_crl, i2d_X509_CRL, kWhat, __FILE__, __LINE__);
}

bool RYXASNCertificateList::hasValue() const {
    return m_crl != nullptr;
}

RYXASNx500Name RYXASNCertificateList::getIssuer() const {
    requireValue(m_crl);
    return RYXASNx500Name(X509_CRL_get_issuer(m_crl));
}

RYXString RYXASNCertificateList::getThisUpdate() const {
    requireValue(m_crl);
    return ryxasn_internal::timeText(X509_CRL_get0_lastUpdate(m_crl));
}

RYXString RYXASNCertificateList::getNextUpdate() const {
    requireValue(m_crl);
    return ryxasn_internal::timeText(X509_CRL_get0_nextUpdate(m_crl));
}

long RYXASNCertificateList::getRevokedCount() const {
    requireValue(m_crl);
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(m_crl);
    return revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked);
}

bool RYXASNCertificateList::isRevoked(const char* serialHex) const {
    requireValue(m_crl);
    size_t length = serialHex == nullptr ? 0 : std::strlen(serialHex);
    BIGNUM* parsed = nullptr;
    if (length == 0 || length > 1024 || BN_hex2bn(&parsed, serialHex) != static_cast<int>(length)) {
        BN_free(parsed);
        ERR_clear_error();
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           RYXString("Not a hex serial number: \"") +
                               RYXString(serialHex == nullptr ? "(null)" : serialHex) + "\"");
    }
    ryx::UniquePtr<BIGNUM> number(parsed);
    ryx::UniquePtr<ASN1_INTEGER> serial(BN_to_ASN1_INTEGER(number.get(), nullptr));
    if (!serial) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    // OpenSSL sorts the entries once, on the first look-up, then searches them.
    X509_REVOKED* entry = nullptr;
    int found = X509_CRL_get0_by_serial(m_crl, &entry, serial.get());
    ERR_clear_error();
    return found == 1;
}

const X509_crl_st* RYXASNCertificateList::native() const {
    return m_crl;
}
