// Small owners for the handles of the toolkit LDAP library, for its tests.
#ifndef LDAPTESTUTIL_H
#define LDAPTESTUTIL_H

#include <memory>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "ryxldap.h"

struct RyxUnbind {
    void operator()(LDAP* ld) const { ryx_ldap_unbind(ld); }
};
using RyxLdap = std::unique_ptr<LDAP, RyxUnbind>;

struct RyxMsgFree {
    void operator()(LDAPMessage* m) const { ryx_ldap_msgfree(m); }
};
using RyxMessage = std::unique_ptr<LDAPMessage, RyxMsgFree>;

// Connects (lazily) to host:port and binds; rc receives the bind's result.
inline RyxLdap bindTo(const std::string& host, int port, const char* dn, const char* pw, int* rc) {
    RyxLdap ld(ryx_ldap_init(host.c_str(), port));
    if (!ld)
        return ld;
    int version = LDAP_VERSION3;
    ryx_ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    *rc = ryx_ldap_simple_bind_s(ld.get(), dn, pw);
    return ld;
}

// The values of one attribute of an entry, as byte strings.
inline std::vector<std::string> valuesOf(LDAP* ld, LDAPMessage* entry, const char* attr) {
    std::vector<std::string> out;
    berval** vals = ryx_ldap_get_values_len(ld, entry, attr);
    for (berval** v = vals; v != nullptr && *v != nullptr; ++v)
        out.emplace_back((*v)->bv_val, (*v)->bv_len);
    ryx_ldap_value_free_len(vals);
    return out;
}

// The attribute names of an entry, in the server's order.
inline std::vector<std::string> attributesOf(LDAP* ld, LDAPMessage* entry) {
    std::vector<std::string> out;
    BerElement* ber = nullptr;
    for (char* a = ryx_ldap_first_attribute(ld, entry, &ber); a != nullptr;
         a = ryx_ldap_next_attribute(ld, entry, ber)) {
        out.emplace_back(a);
        ryx_ldap_memfree(a);
    }
    ryx_ldap_ber_free(ber, 0);
    return out;
}

inline std::string dnOf(LDAP* ld, LDAPMessage* entry) {
    char* dn = ryx_ldap_get_dn(ld, entry);
    std::string out = dn != nullptr ? dn : "";
    ryx_ldap_memfree(dn);
    return out;
}

// A small self-signed certificate, DER encoded (the stock schema checks the
// syntax of certificate values).
inline std::string selfSignedDer(const char* cn) {
    std::string der;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (key != nullptr && cert != nullptr) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_NAME* name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key);
        if (X509_sign(cert, key, EVP_sha256()) > 0) {
            unsigned char* out = nullptr;
            int len = i2d_X509(cert, &out);
            if (len > 0)
                der.assign(reinterpret_cast<char*>(out), static_cast<size_t>(len));
            OPENSSL_free(out);
        }
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return der;
}

#endif
