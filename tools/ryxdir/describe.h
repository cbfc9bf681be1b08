// How certificates and revocation lists are shown: one text line of facts, or
// the members of a JSON object.
#ifndef RYXDIR_DESCRIBE_H
#define RYXDIR_DESCRIBE_H

#include <openssl/x509.h>

#include <string>

#include "json.h"
#include "ryxasn.h"

namespace ryxdir {

// RFC 2253 text of a name, as OpenSSL prints it.
std::string nameText(const X509_NAME* name);

// SHA-256 of the DER, upper-case hex bytes separated by colons.
std::string fingerprint(const X509* cert);

// "subject=... issuer=... serial=... notAfter=... sha256=..."
std::string certificateText(const X509* cert);
// "issuer=... thisUpdate=... nextUpdate=... number=... revoked=N"
std::string crlText(const X509_CRL* crl);
// The same line from what the toolkit keeps of a list, without building
// OpenSSL's object (which holds every entry decoded).
std::string crlText(const RYXASNCertificateList& list);

// A list's CRL number in decimal, "" when it has none.
std::string crlNumberText(const RYXASNCertificateList& list);

// Members of the object the caller has opened; times in ISO 8601.
void certificateJson(JsonWriter& json, const X509* cert);
void crlJson(JsonWriter& json, const X509_CRL* crl);
// The same members from what the toolkit keeps of a list.
void crlJson(JsonWriter& json, const RYXASNCertificateList& list);

// Bytes in base64, on one line.
std::string base64(const unsigned char* bytes, size_t length);

}  // namespace ryxdir

#endif
