// The names that commands take: an entry's distinguished name as LDAP writes
// it, or the issuer or subject of a certificate in a file.
#ifndef RYXDIR_NAMES_H
#define RYXDIR_NAMES_H

#include <openssl/x509.h>

#include <string>

#include "ryxasn.h"
#include "ryxopensslptr.h"

namespace ryxdir {

// A NAME operand. A name in one of OpenSSL's print forms ("C = DE, O = X, CN = Y"
// as "openssl x509 -issuer" prints it, or "/C=DE/O=X/CN=Y") is a usage failure
// that says so and shows the name in LDAP form; other bad text is one too.
RYXASNx500Name operandName(const std::string& text);

// The LDAP form of text in one of OpenSSL's print forms; "" when it is none.
std::string ldapFormOfPrinted(const std::string& text);

enum class Whose { Issuer, Subject };
// The issuer or subject of the certificate in path (PEM or DER); a usage
// failure when the file holds no certificate.
ryx::UniquePtr<X509_NAME> certificateName(const std::string& path, Whose whose);

}  // namespace ryxdir

#endif
