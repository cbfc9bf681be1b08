// Why the TLS set-up of a connection failed, taken from that handshake itself:
// OpenLDAP releases the session of a failed handshake before it reports the
// failure, so what matters is noted while the handshake runs (with OpenLDAP on
// GnuTLS, which leaves only "unknown error" behind), or read from OpenLDAP's
// diagnostic message of that handshake (with OpenLDAP on OpenSSL, whose
// message carries the verification result).
#ifndef RYXLDAP_TLSVERDICT_H
#define RYXLDAP_TLSVERDICT_H

#include <ldap.h>

#include <string>

namespace ryxldap {

class TlsVerdict {
  public:
    TlsVerdict() = default;
    TlsVerdict(const TlsVerdict&) = delete;
    TlsVerdict& operator=(const TlsVerdict&) = delete;

    // Registers with ld to watch every TLS handshake of its connections. Must
    // outlive the handle.
    bool attach(LDAP* ld);
    // Whether a handshake started on the handle.
    bool started() const { return m_started; }
    // The reason a TLS set-up toward host failed: the server's certificate has
    // expired, is not valid yet, comes from an unknown issuer or does not name
    // the host OpenLDAP checked, or the server refused the handshake; else
    // OpenLDAP's diagnostic message.
    std::string reason(const std::string& host, const std::string& diagnostic) const;

    // For the callbacks: a handshake starts on session (OpenLDAP's), and one
    // has been completed, with the verification result (GnuTLS status bits)
    // and the issuer of the server's certificate.
    void begin(void* session);
    void completed(unsigned int status, std::string issuer);

  private:
    bool m_started = false;
    bool m_completed = false;  // a name check may still have failed
    unsigned int m_status = 0;
    std::string m_issuer;
};

}  // namespace ryxldap

#endif
