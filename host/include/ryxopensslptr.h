// Release functions of the OpenSSL types that the host toolkit and the lab own
// through ryx::UniquePtr. Bytes and text that OpenSSL allocated (i2d output,
// BN_bn2hex, X509_NAME_oneline) are owned as UniquePtr<unsigned char> and
// UniquePtr<char> and released with OPENSSL_free.
//
// A stack owner releases the stack and what it holds; a caller that keeps the
// elements takes them out first (sk_X509_shift).
//
// ASN1_INTEGER, ASN1_TIME, ASN1_OCTET_STRING and the other string types are all
// ASN1_STRING in OpenSSL: one registration covers them.
#ifndef RYXOPENSSLPTR_H
#define RYXOPENSSLPTR_H

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "ryxuniqueptr.h"

namespace ryx {
inline void releaseOpenSSLMemory(void* pointer) {
    OPENSSL_free(pointer);
}
inline void releaseCertificates(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
inline void releaseRevocationLists(STACK_OF(X509_CRL) * stack) {
    sk_X509_CRL_pop_free(stack, X509_CRL_free);
}
inline void releaseObjects(STACK_OF(ASN1_OBJECT) * stack) {
    sk_ASN1_OBJECT_pop_free(stack, ASN1_OBJECT_free);
}
}  // namespace ryx

RYX_MAKE_DELETER(unsigned char, ryx::releaseOpenSSLMemory)
RYX_MAKE_DELETER(char, ryx::releaseOpenSSLMemory)
RYX_MAKE_DELETER(ASN1_OBJECT, ASN1_OBJECT_free)
RYX_MAKE_DELETER(ASN1_STRING, ASN1_STRING_free)
RYX_MAKE_DELETER(ASN1_TYPE, ASN1_TYPE_free)
RYX_MAKE_DELETER(BIGNUM, BN_free)
RYX_MAKE_DELETER(BIO, BIO_free)
RYX_MAKE_DELETER(CRL_DIST_POINTS, CRL_DIST_POINTS_free)
RYX_MAKE_DELETER(DIST_POINT, DIST_POINT_free)
RYX_MAKE_DELETER(EVP_MD_CTX, EVP_MD_CTX_free)
RYX_MAKE_DELETER(EVP_PKEY, EVP_PKEY_free)
RYX_MAKE_DELETER(OSSL_DECODER_CTX, OSSL_DECODER_CTX_free)
RYX_MAKE_DELETER(GENERAL_NAME, GENERAL_NAME_free)
RYX_MAKE_DELETER(ISSUING_DIST_POINT, ISSUING_DIST_POINT_free)
RYX_MAKE_DELETER(X509, X509_free)
RYX_MAKE_DELETER(X509_ALGOR, X509_ALGOR_free)
RYX_MAKE_DELETER(X509_CRL, X509_CRL_free)
RYX_MAKE_DELETER(X509_EXTENSION, X509_EXTENSION_free)
RYX_MAKE_DELETER(X509_NAME, X509_NAME_free)
RYX_MAKE_DELETER(X509_REVOKED, X509_REVOKED_free)
RYX_MAKE_DELETER(X509_STORE, X509_STORE_free)
RYX_MAKE_DELETER(X509_STORE_CTX, X509_STORE_CTX_free)
RYX_MAKE_DELETER(STACK_OF(X509), ryx::releaseCertificates)
RYX_MAKE_DELETER(STACK_OF(X509_CRL), ryx::releaseRevocationLists)
RYX_MAKE_DELETER(STACK_OF(ASN1_OBJECT), ryx::releaseObjects)

#endif
