// The floor of the benchmarks: what the plug-in does, done directly with
// OpenLDAP's client library and OpenSSL's decoders, with nothing in between.
#ifndef BENCHFLOOR_H
#define BENCHFLOOR_H

#include <ldap.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "ryxopenldapptr.h"
#include "ryxopensslptr.h"

namespace benchfloor {

enum class Kind { Certificate, RevocationList };

// One connection made with ldap_initialize, bound simply (anonymously when dn
// is empty). Every wait is bounded.
class Connection {
  public:
    Connection(const std::string& url, const std::string& dn, const std::string& password);
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

    ryx::UniquePtr<LDAP> m_ld;
};

// ldap_initialize, a simple bind and an unbind: one connection's whole life.
void bindAndUnbind(const std::string& url, const std::string& dn, const std::string& password);

// What validations decided: valid, revoked, anything else.
struct Verdicts {
    long valid = 0;
    long revoked = 0;
    long other = 0;
};

// X509_verify_cert with trust anchors, untrusted intermediates and revocation
// lists read from PEM files, the lists checked for the whole chain: what
// openssl verify -crl_check_all does, in process. Throws when a file does not
// read.
class FileVerifier {
  public:
    FileVerifier(const std::string& anchors, const std::string& untrusted, const std::string& crls);
    Verdicts verify(const std::vector<X509*>& certs, size_t first, size_t count) const;

  private:
    ryx::UniquePtr<X509_STORE> m_store;
    ryx::UniquePtr<STACK_OF(X509)> m_untrusted;
};

}  // namespace benchfloor

#endif
