// Owners of OpenSSL objects.
#ifndef RYXDIR_OSSL_H
#define RYXDIR_OSSL_H

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

namespace ryxdir {

struct OsslFree {
    void operator()(X509* p) const { X509_free(p); }
    void operator()(X509_CRL* p) const { X509_CRL_free(p); }
    void operator()(X509_STORE* p) const { X509_STORE_free(p); }
    void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
    void operator()(STACK_OF(X509) * p) const { sk_X509_pop_free(p, X509_free); }
    void operator()(STACK_OF(X509_CRL) * p) const { sk_X509_CRL_pop_free(p, X509_CRL_free); }
};

using X509Ptr = std::unique_ptr<X509, OsslFree>;
using CrlPtr = std::unique_ptr<X509_CRL, OsslFree>;
using StorePtr = std::unique_ptr<X509_STORE, OsslFree>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, OsslFree>;
using CertStack = std::unique_ptr<STACK_OF(X509), OsslFree>;
using CrlStack = std::unique_ptr<STACK_OF(X509_CRL), OsslFree>;

// A new reference to an object someone else owns.
inline X509Ptr shared(const X509* cert) {
    X509_up_ref(const_cast<X509*>(cert));
    return X509Ptr(const_cast<X509*>(cert));
}
inline CrlPtr shared(const X509_CRL* crl) {
    X509_CRL_up_ref(const_cast<X509_CRL*>(crl));
    return CrlPtr(const_cast<X509_CRL*>(crl));
}

}  // namespace ryxdir

#endif
