// The demo directory's sample PKI: a root CA with an ARL, an issuing CA whose
// certificate is stored as "{ASN}" hex text, a CRL distribution point entry and
// two users, Alice (valid) and Bob (revoked by the issuing CA's CRL). The user
// certificates name the distribution point by an ldap:// URL of the server that
// holds them, with its host and port. Generated afresh at every load (new keys).
#ifndef LABSAMPLE_H
#define LABSAMPLE_H

#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"

namespace labsample {

// One entry as loaded, for people to read.
struct Entry {
    std::string dn;
    std::string description;
};

struct Sample {
    std::string rootDN;      // root CA entry: certificate, ARL, CRL
    std::string caDN;        // issuing CA entry: certificate as "{ASN}" hex, CRL
    std::string crlPointDN;  // CRL distribution point entry: the issuing CA's CRL
    std::string aliceDN;
    std::string bobDN;
    // The user certificates' CRL distribution point.
    std::string crlURL;
    // Certificates, DER.
    labpki::Bytes root;
    labpki::Bytes ca;
    labpki::Bytes alice;
    labpki::Bytes bob;
    // The issuing CA's CRL as loaded (number 1, revokes Bob) and its next one,
    // not loaded (number 2, revokes Bob and Alice), for publishing.
    labpki::Bytes caCRL;
    labpki::Bytes caNextCRL;
    std::vector<Entry> entries;  // in the order loaded
};

// Generates the sample under slapd's suffix and loads it. The server must use
// the octet-string schema (values under the plain attribute names; the hex text
// needs it). Throws std::runtime_error on failure.
Sample load(LabSlapd& slapd);

// The DN part of an LDAP URL: every character outside the unreserved ones and
// ",=+;" percent-encoded.
std::string urlEncodedDN(const std::string& dn);

}  // namespace labsample

#endif
