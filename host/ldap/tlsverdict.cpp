#include "tlsverdict.h"

#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "ryxopenldapptr.h"
#include "ryxopensslptr.h"

#ifdef RYX_LDAP_GNUTLS
#include <gnutls/gnutls.h>
#endif

namespace ryxldap {

namespace {

enum class Kind { Other, Expired, NotYetValid, UnknownIssuer, NameMismatch, Refused };

#ifdef RYX_LDAP_GNUTLS
std::string issuerOf(const unsigned char* der, size_t length) {
    ryx::UniquePtr<X509> cert(d2i_X509(nullptr, &der, static_cast<long>(length)));
    ryx::UniquePtr<BIO> bio(BIO_new(BIO_s_mem()));
    if (cert == nullptr || bio == nullptr ||
        X509_NAME_print_ex(bio.get(), X509_get_issuer_name(cert.get()), 0, XN_FLAG_RFC2253) < 0)
        return std::string();
    char* text = nullptr;
    const long n = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, static_cast<size_t>(n));
}

bool tlsPackageIs(const char* name) {
    char* package = nullptr;
    const bool known =
        ldap_get_option(nullptr, LDAP_OPT_X_TLS_PACKAGE, &package) == LDAP_OPT_SUCCESS;
    const ryx::UniquePtr<char, ryx::LdapMemfree> owner(package);
    return known && package != nullptr && strcasecmp(package, name) == 0;
}

// The verdict of the handshake running on this thread (OpenLDAP runs each one
// to its end inside the call that starts it).
thread_local TlsVerdict* t_verdict = nullptr;

// Once the handshake is through: the same verification OpenLDAP makes next,
// with the same credentials, and the issuer of the server's certificate.
int handshakeDone(gnutls_session_t session, unsigned int, unsigned int, unsigned int,
                  const gnutls_datum_t*) {
    if (t_verdict == nullptr)
        return 0;
    unsigned int status = 0;
    if (gnutls_certificate_verify_peers2(session, &status) < 0)
        status = GNUTLS_CERT_INVALID;
    unsigned int count = 0;
    const gnutls_datum_t* peers = gnutls_certificate_get_peers(session, &count);
    t_verdict->completed(status, peers != nullptr && count > 0
                                     ? issuerOf(peers[0].data, peers[0].size)
                                     : std::string());
    return 0;
}

Kind kindOfStatus(unsigned int status) {
    if (status & GNUTLS_CERT_EXPIRED)
        return Kind::Expired;
    if (status & GNUTLS_CERT_NOT_ACTIVATED)
        return Kind::NotYetValid;
    if (status & (GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_SIGNER_NOT_CA))
        return Kind::UnknownIssuer;
    return status == 0 ? Kind::NameMismatch : Kind::Other;
}
#endif

// OpenLDAP calls this for each new TLS session of the handle, before the
// handshake. On GnuTLS its session begins with the GnuTLS session.
void sessionStarted(LDAP*, void* session, void*, void* arg) {
    static_cast<TlsVerdict*>(arg)->begin(session);
}

// OpenLDAP on OpenSSL reports "certificate verify failed (REASON)" with
// OpenSSL's text for the verification result, or its own host name check.
Kind kindOfMessage(const std::string& text) {
    const struct {
        const char* part;
        Kind kind;
    } table[] = {
        {"certificate has expired", Kind::Expired},
        {"certificate is not yet valid", Kind::NotYetValid},
        {"unable to get local issuer certificate", Kind::UnknownIssuer},
        {"unable to get issuer certificate", Kind::UnknownIssuer},
        {"unable to verify the first certificate", Kind::UnknownIssuer},
        {"self-signed certificate", Kind::UnknownIssuer},
        {"self signed certificate", Kind::UnknownIssuer},
        {"hostname does not match", Kind::NameMismatch},
        {"alert", Kind::Refused},
    };
    for (const auto& row : table) {
        if (strcasestr(text.c_str(), row.part) != nullptr)
            return row.kind;
    }
    return Kind::Other;
}

std::string machineName() {
    char name[256] = "";
    ::gethostname(name, sizeof name - 1);
    return name;
}

}  // namespace

bool TlsVerdict::attach(LDAP* ld) {
    return ldap_set_option(ld, LDAP_OPT_X_TLS_CONNECT_CB,
                           reinterpret_cast<void*>(&sessionStarted)) == LDAP_OPT_SUCCESS &&
           ldap_set_option(ld, LDAP_OPT_X_TLS_CONNECT_ARG, this) == LDAP_OPT_SUCCESS;
}

void TlsVerdict::begin(void* session) {
    m_started = true;
    m_completed = false;
    m_status = 0;
    m_issuer.clear();
#ifdef RYX_LDAP_GNUTLS
    static const bool gnutls = tlsPackageIs("GnuTLS");
    if (gnutls && session != nullptr) {
        t_verdict = this;
        gnutls_handshake_set_hook_function(*static_cast<gnutls_session_t*>(session),
                                           GNUTLS_HANDSHAKE_FINISHED, GNUTLS_HOOK_POST,
                                           handshakeDone);
    }
#else
    (void)session;
#endif
}

void TlsVerdict::completed(unsigned int status, std::string issuer) {
    m_completed = true;
    m_status = status;
    m_issuer = std::move(issuer);
}

std::string TlsVerdict::reason(const std::string& host, const std::string& diagnostic) const {
    Kind kind = kindOfMessage(diagnostic);
#ifdef RYX_LDAP_GNUTLS
    if (m_completed)
        kind = kindOfStatus(m_status);
#endif
    const std::string cert = "the server's certificate ";
    switch (kind) {
        case Kind::Expired:
            return cert + "has expired";
        case Kind::NotYetValid:
            return cert + "is not valid yet";
        case Kind::UnknownIssuer:
            return cert + "comes from an unknown issuer" +
                   (m_issuer.empty() ? "" : " (" + m_issuer + ")") + ", not one of the trusted CAs";
        case Kind::NameMismatch:
            if (strcasecmp(host.c_str(), "localhost") == 0)
                return cert + "does not name \"" + machineName() +
                       "\", the machine's own name, which OpenLDAP checks for localhost";
            return cert + "does not name \"" + host + "\"";
        case Kind::Refused:
            return "the server refused the TLS handshake (" + diagnostic + ")";
        default:
            return "the TLS handshake failed" + (diagnostic.empty() ? "" : " (" + diagnostic + ")");
    }
}

}  // namespace ryxldap
