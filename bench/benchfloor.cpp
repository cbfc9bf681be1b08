#include "benchfloor.h"

#include <openssl/x509.h>

#include <memory>
#include <stdexcept>

namespace benchfloor {

namespace {

// No call waits longer than this for the server.
constexpr int kWaitSeconds = 300;

[[noreturn]] void failed(const std::string& what, int rc) {
    throw std::runtime_error(what + ": " + ldap_err2string(rc));
}

LDAP* open(const std::string& url, const std::string& dn, const std::string& password) {
    LDAP* ld = nullptr;
    int rc = ldap_initialize(&ld, url.c_str());
    if (rc != LDAP_SUCCESS) {
        failed("ldap_initialize " + url, rc);
    }
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    const timeval wait{kWaitSeconds, 0};
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &wait);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &wait);
    berval secret{password.size(), const_cast<char*>(password.data())};
    rc = ldap_sasl_bind_s(ld, dn.empty() ? nullptr : dn.c_str(), LDAP_SASL_SIMPLE, &secret, nullptr,
                          nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        failed("bind", rc);
    }
    return ld;
}

// The objects in one value, or the revoked entries of a list; throws when the
// value does not decode.
long decode(const berval& value, Kind kind) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value.bv_val);
    const long length = static_cast<long>(value.bv_len);
    if (kind == Kind::Certificate) {
        X509* cert = d2i_X509(nullptr, &p, length);
        if (cert == nullptr) {
            throw std::runtime_error("d2i_X509 failed");
        }
        X509_free(cert);
        return 1;
    }
    X509_CRL* crl = d2i_X509_CRL(nullptr, &p, length);
    if (crl == nullptr) {
        throw std::runtime_error("d2i_X509_CRL failed");
    }
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl);
    const long n = revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked);
    X509_CRL_free(crl);
    return n;
}

struct MessageFree {
    void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
struct UrlFree {
    void operator()(LDAPURLDesc* d) const { ldap_free_urldesc(d); }
};

}  // namespace

Connection::Connection(const std::string& url, const std::string& dn, const std::string& password)
    : m_ld(open(url, dn, password)) {}

Connection::~Connection() {
    ldap_unbind_ext_s(m_ld, nullptr, nullptr);
}

long Connection::search(const char* base, int scope, const char* filter, char** attributes,
                        Kind kind) {
    LDAPMessage* message = nullptr;
    timeval wait{kWaitSeconds, 0};
    const int rc = ldap_search_ext_s(m_ld, base, scope, filter, attributes, 0, nullptr, nullptr,
                                     &wait, LDAP_NO_LIMIT, &message);
    std::unique_ptr<LDAPMessage, MessageFree> result(message);
    if (rc != LDAP_SUCCESS) {
        failed(std::string("search of ") + base, rc);
    }
    long found = 0;
    for (LDAPMessage* e = ldap_first_entry(m_ld, message); e != nullptr;
         e = ldap_next_entry(m_ld, e)) {
        BerElement* ber = nullptr;
        for (char* a = ldap_first_attribute(m_ld, e, &ber); a != nullptr;
             a = ldap_next_attribute(m_ld, e, ber)) {
            berval** values = ldap_get_values_len(m_ld, e, a);
            ldap_memfree(a);
            try {
                for (berval** v = values; v != nullptr && *v != nullptr; ++v) {
                    found += decode(**v, kind);
                }
            } catch (...) {
                ldap_value_free_len(values);
                ber_free(ber, 0);
                throw;
            }
            ldap_value_free_len(values);
        }
        ber_free(ber, 0);
    }
    return found;
}

long Connection::fetch(const std::string& dn, const char* attribute, Kind kind) {
    const std::string filter = std::string("(") + attribute + "=*)";
    char* attributes[] = {const_cast<char*>(attribute), nullptr};
    return search(dn.c_str(), LDAP_SCOPE_BASE, filter.c_str(), attributes, kind);
}

long Connection::fetchUrl(const std::string& url) {
    LDAPURLDesc* parsed = nullptr;
    if (ldap_url_parse(url.c_str(), &parsed) != LDAP_URL_SUCCESS) {
        throw std::runtime_error("ldap_url_parse " + url);
    }
    std::unique_ptr<LDAPURLDesc, UrlFree> desc(parsed);
    const char* filter = desc->lud_filter != nullptr ? desc->lud_filter : "(objectClass=*)";
    const int scope = desc->lud_scope == LDAP_SCOPE_DEFAULT ? LDAP_SCOPE_BASE : desc->lud_scope;
    return search(desc->lud_dn != nullptr ? desc->lud_dn : "", scope, filter, desc->lud_attrs,
                  Kind::RevocationList);
}

void bindAndUnbind(const std::string& url, const std::string& dn, const std::string& password) {
    ldap_unbind_ext_s(open(url, dn, password), nullptr, nullptr);
}

}  // namespace benchfloor
