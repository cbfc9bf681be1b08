// The floor of the benchmarks: what the plug-in does, done directly with
// OpenLDAP's client library and OpenSSL's decoders, with nothing in between.
#ifndef BENCHFLOOR_H
#define BENCHFLOOR_H

#include <ldap.h>

#include <string>

namespace benchfloor {

enum class Kind { Certificate, RevocationList };

// One connection made with ldap_initialize, bound simply (anonymously when dn
// is empty). Every wait is bounded.
class Connection {
  public:
    Connection(const std::string& url, const std::string& dn, const std::string& password);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // A base search of dn for attribute (present), every value of every
    // attribute returned decoded with d2i_X509 or d2i_X509_CRL. Returns the
    // objects decoded, or for lists the revoked entries they hold.
    long fetch(const std::string& dn, const char* attribute, Kind kind);
    // The search an LDAP URL describes (on this connection), its values decoded
    // as revocation lists; returns the revoked entries they hold.
    long fetchUrl(const std::string& url);

  private:
    long search(const char* base, int scope, const char* filter, char** attributes, Kind kind);

    LDAP* m_ld = nullptr;
};

// ldap_initialize, a simple bind and an unbind: one connection's whole life.
void bindAndUnbind(const std::string& url, const std::string& dn, const std::string& password);

}  // namespace benchfloor

#endif
