#include "benchfloor.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace benchfloor {

namespace {

// No call waits longer than this for the server.
constexpr int kWaitSeconds = 300;

[[noreturn]] void failed(const std::string& what, int rc) {
    throw std::runtime_error(what + ": " + ldap_err2string(rc));
}

ryx::UniquePtr<LDAP> open(const std::string& url, const std::string& dn,
                          const std::string& password) {
    LDAP* raw = nullptr;
    int rc = ldap_initialize(&raw, url.c_str());
    ryx::UniquePtr<LDAP> owner(raw);
    if (rc != LDAP_SUCCESS) {
        failed("ldap_initialize " + url, rc);
    }
    LDAP* ld = owner.get();
    const int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    const timeval wait{kWaitSeconds, 0};
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &wait);
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &wait);
    berval secret{password.size(), const_cast<char*>(password.data())};
    rc = ldap_sasl_bind_s(ld, dn.empty() ? nullptr : dn.c_str(), LDAP_SASL_SIMPLE, &secret, nullptr,
                          nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        failed("bind", rc);
    }
    return owner;
}

// The objects in one value, or the revoked entries of a list; throws when the
// value does not decode.
long decode(const berval& value, Kind kind) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value.bv_val);
    const long length = static_cast<long>(value.bv_len);
    if (kind == Kind::Certificate) {
        if (!ryx::UniquePtr<X509>(d2i_X509(nullptr, &p, length))) {
            throw std::runtime_error("d2i_X509 failed");
        }
        return 1;
    }
    const ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, length));
    if (!crl) {
        throw std::runtime_error("d2i_X509_CRL failed");
    }
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
    return revoked == nullptr ? 0 : sk_X509_REVOKED_num(revoked);
}

}  // namespace

Connection::Connection(const std::string& url, const std::string& dn, const std::string& password)
    : m_ld(open(url, dn, password)) {}

long Connection::search(const char* base, int scope, const char* filter, char** attributes,
                        Kind kind) {
    LDAPMessage* message = nullptr;
    timeval wait{kWaitSeconds, 0};
    LDAP* ld = m_ld.get();
    const int rc = ldap_search_ext_s(ld, base, scope, filter, attributes, 0, nullptr, nullptr,
                                     &wait, LDAP_NO_LIMIT, &message);
    const ryx::UniquePtr<LDAPMessage> result(message);
    if (rc != LDAP_SUCCESS) {
        failed(std::string("search of ") + base, rc);
    }
    long found = 0;
    for (LDAPMessage* e = ldap_first_entry(ld, message); e != nullptr; e = ldap_next_entry(ld, e)) {
        BerElement* ber = nullptr;
        char* a = ldap_first_attribute(ld, e, &ber);
        const ryx::UniquePtr<BerElement> iteration(ber);
        for (; a != nullptr; a = ldap_next_attribute(ld, e, ber)) {
            const ryx::UniquePtr<char, ryx::LdapMemfree> name(a);
            const ryx::UniquePtr<berval*> values(ldap_get_values_len(ld, e, a));
            for (berval** v = values.get(); v != nullptr && *v != nullptr; ++v) {
                found += decode(**v, kind);
            }
        }
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
    const ryx::UniquePtr<LDAPURLDesc> desc(parsed);
    const char* filter = desc->lud_filter != nullptr ? desc->lud_filter : "(objectClass=*)";
    const int scope = desc->lud_scope == LDAP_SCOPE_DEFAULT ? LDAP_SCOPE_BASE : desc->lud_scope;
    return search(desc->lud_dn != nullptr ? desc->lud_dn : "", scope, filter, desc->lud_attrs,
                  Kind::RevocationList);
}

void bindAndUnbind(const std::string& url, const std::string& dn, const std::string& password) {
    open(url, dn, password);  // and unbound at once by its owner
}

namespace {

ryx::UniquePtr<BIO> openFile(const std::string& path) {
    ryx::UniquePtr<BIO> bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        throw std::runtime_error("cannot read " + path);
    }
    return bio;
}

}  // namespace

FileVerifier::FileVerifier(const std::string& anchors, const std::string& untrusted,
                           const std::string& crls)
    : m_store(X509_STORE_new()), m_untrusted(sk_X509_new_null()) {
    if (!m_store || !m_untrusted || X509_STORE_load_file(m_store.get(), anchors.c_str()) != 1) {
        throw std::runtime_error("cannot load the trust anchors of " + anchors);
    }
    ryx::UniquePtr<BIO> certs = openFile(untrusted);
    while (X509* cert = PEM_read_bio_X509(certs.get(), nullptr, nullptr, nullptr)) {
        sk_X509_push(m_untrusted.get(), cert);
    }
    ryx::UniquePtr<BIO> lists = openFile(crls);
    int read = 0;
    for (; X509_CRL* crl = PEM_read_bio_X509_CRL(lists.get(), nullptr, nullptr, nullptr); ++read) {
        const ryx::UniquePtr<X509_CRL> owner(crl);  // the store takes a reference of its own
        X509_STORE_add_crl(m_store.get(), crl);
    }
    if (read == 0 || sk_X509_num(m_untrusted.get()) == 0) {
        throw std::runtime_error("no list in " + crls + " or no certificate in " + untrusted);
    }
    X509_STORE_set_flags(m_store.get(), X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
}

Verdicts FileVerifier::verify(const std::vector<X509*>& certs, size_t first, size_t count) const {
    Verdicts v;
    ryx::UniquePtr<X509_STORE_CTX> ctx(X509_STORE_CTX_new());
    for (size_t i = first; i < std::min(certs.size(), first + count); ++i) {
        if (!ctx ||
            X509_STORE_CTX_init(ctx.get(), m_store.get(), certs[i], m_untrusted.get()) != 1) {
            throw std::runtime_error("X509_STORE_CTX_init failed");
        }
        if (X509_verify_cert(ctx.get()) == 1) {
            ++v.valid;
        } else if (X509_STORE_CTX_get_error(ctx.get()) == X509_V_ERR_CERT_REVOKED) {
            ++v.revoked;
        } else {
            ++v.other;
        }
        X509_STORE_CTX_cleanup(ctx.get());
    }
    return v;
}

}  // namespace benchfloor
