// What the validation library's parts share. Not installed, not exported.
#ifndef PKIXINTERNAL_H
#define PKIXINTERNAL_H

#include <openssl/x509.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ryxpkix.h"

namespace ryxpkix {

using X509Ptr = ryx::UniquePtr<X509>;
using CrlPtr = ryx::UniquePtr<X509_CRL>;
using ListPtr = std::shared_ptr<const RYXASNCertificateList>;

// A new reference to a certificate someone else owns.
inline X509Ptr shared(const X509* cert) {
    X509_up_ref(const_cast<X509*>(cert));
    return X509Ptr(const_cast<X509*>(cert));
}

// OpenSSL fills a certificate's cache of decoded extensions on first use; done
// before the certificate is shared by threads, their later reads only read.
inline const X509* cached(const X509* cert) {
    X509_check_purpose(const_cast<X509*>(cert), -1, 0);
    return cert;
}

std::string nameText(const X509_NAME* name);
std::string fingerprint(const X509* cert);
// The DER of a name, as a key for maps.
std::string nameKey(const X509_NAME* name);
// ISO 8601 ("2027-01-02T03:04:05Z"); empty when time is null or bad.
std::string isoTime(const ASN1_TIME* time);
// The key of issuer verifies the signature of cert.
bool signs(const X509* issuer, const X509* cert);

// A certificate found for a chain, with where it came from.
struct Candidate {
    X509Ptr cert;
    RYXPKIXOrigin origin;
    bool verifies = true;  // its key verifies the signature below it
};

// The candidates for the issuer named (the directory's, and the untrusted
// certificates handed in); notes say what went wrong on the way.
using IssuerLookup =
    std::function<std::vector<Candidate>(const X509_NAME* issuer, std::vector<std::string>& notes)>;

struct Chain {
    std::vector<RYXPKIXLink> links;
    bool anchored = false;
    std::vector<std::string> notes;
    // The depth of the certificate whose issuer on the path does not verify
    // its signature (the issuer's entry held no other); -1: none.
    int badSignature = -1;
};

// Signature checks between CA certificates, remembered by the two
// certificates' SHA-256: the links above the leaf repeat in every validation
// below one CA. Thread-safe; forgets all past a bound.
class SignatureMemo {
  public:
    bool signs(const X509* issuer, const X509* cert);

  private:
    std::mutex m_mutex;
    std::map<std::string, bool> m_known;
};

// Depth-first upward from leaf; see chain.cpp.
Chain buildChain(X509Ptr leaf, const RYXPKIXOrigin& origin, X509_STORE* anchors,
                 const std::string& anchorOrigin, const IssuerLookup& lookup,
                 const RYXPKIXOptions& options, SignatureMemo& memo);

// The URIs of the certificate's CRL distribution points, in order.
std::vector<std::string> distributionPoints(const X509* cert);

// The same URL asking for NAME where it asked for NAME;binary and the other way
// round; empty when it names no attribute.
std::string otherDescription(const std::string& url);

// The values of an entry or URL decoded into lists or certificates: binary
// DER or "{ASN}"/"{Asn}" hex text; other text is passed over. A value that
// does not decode is noted with its place.
std::vector<ListPtr> decodeLists(const std::vector<RYXPKIXValueSource::Value>& values,
                                 const std::string& where, std::vector<std::string>& notes);
std::vector<X509Ptr> decodeCertificates(const std::vector<RYXPKIXValueSource::Value>& values,
                                        const std::string& where, std::vector<std::string>& notes);

// Whether the list's signature verifies with key, from its bytes.
bool listSignedBy(const RYXASNCertificateList& list, EVP_PKEY* key);

}  // namespace ryxpkix

#endif
