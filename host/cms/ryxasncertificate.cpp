// X.509 certificates: OpenSSL's X509, decoded from strict DER.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <new>
#include <utility>

#include "ryxasn.h"
#include "ryxasninternal.h"
#include "ryxexception.h"

namespace {

const char* const kWhat = "X.509 certificate";

void requireValue(const X509* cert) {
    if (cert == nullptr) {
        ryxasn_internal::throwASN(__FILE__, __LINE__, RYX_ERR_ASN_STATE,
                                  "The X.509 certificate holds no value");
    }
}

}  // namespace

namespace ryxasn_internal {

RYXString integerHex(const ASN1_INTEGER* value) {
    ryx::UniquePtr<BIGNUM> number(ASN1_INTEGER_to_BN(value, nullptr));
    if (!number) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    ryx::UniquePtr<char> hex(BN_bn2hex(number.get()));
    if (!hex) {
        ERR_clear_error();
        throw std::bad_alloc();
    }
    return RYXString(hex.get());
}

}  // namespace ryxasn_internal

RYXASNx509Certificate::RYXASNx509Certificate(RYXASNSecurityType type)
    : RYXASNObject(type), m_cert(nullptr) {}

RYXASNx509Certificate::~RYXASNx509Certificate() {
    ryxasn_internal::replaceHandle(m_cert, nullptr);
    ryxasn_internal::forgetBytes(m_der, getSecurityType());
}

RYXString RYXASNx509Certificate::getClassName() const {
    return RYXString("RYXASNx509Certificate");
}

void RYXASNx509Certificate::decodeDER(const unsigned char* der, size_t length) {
    ryx::UniquePtr<X509> cert =
        ryxasn_internal::decodeStrict<X509>(der, length, d2i_X509, kWhat, __FILE__, __LINE__);
    RYXBuffer bytes(static_cast<unsigned int>(length), der);
    ryxasn_internal::replaceHandle(m_cert, std::move(cert));
    ryxasn_internal::forgetBytes(m_der, getSecurityType());
    m_der = std::move(bytes);
}

RYXBuffer RYXASNx509Certificate::getDEREncoding() const {
    requireValue(m_cert);
    return m_der;
}

RYXASNCBuffer RYXASNx509Certificate::getDERView() const {
    requireValue(m_cert);
    return m_der.get();
}

bool RYXASNx509Certificate::hasValue() const {
    return m_cert != nullptr;
}

RYXASNx500Name RYXASNx509Certificate::getSubject() const {
    requireValue(m_cert);
    return RYXASNx500Name(X509_get_subject_name(m_cert));
}

RYXASNx500Name RYXASNx509Certificate::getIssuer() const {
    requireValue(m_cert);
    return RYXASNx500Name(X509_get_issuer_name(m_cert));
}

RYXString RYXASNx509Certificate::getSerialNumber() const {
    requireValue(m_cert);
    return ryxasn_internal::integerHex(X509_get0_serialNumber(m_cert));
}

RYXString RYXASNx509Certificate::getNotBefore() const {
    requireValue(m_cert);
    return ryxasn_internal::timeText(X509_get0_notBefore(m_cert));
}

RYXString RYXASNx509Certificate::getNotAfter() const {
    requireValue(m_cert);
    return ryxasn_internal::timeText(X509_get0_notAfter(m_cert));
}

const x509_st* RYXASNx509Certificate::native() const {
    return m_cert;
}
