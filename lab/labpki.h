// A small PKI generator on OpenSSL alone: EC P-256 keys, a self-signed root CA,
// intermediate CAs, end-entity certificates, CRLs and ARLs, as DER bytes, PEM text
// or hex text. Independent of the host toolkit so that benchmarks against raw
// OpenSSL can use it too. Failures throw std::runtime_error with OpenSSL's text.
#ifndef LABPKI_H
#define LABPKI_H

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ryxopensslptr.h"

namespace labpki {

using Bytes = std::vector<unsigned char>;

using KeyPtr = ryx::UniquePtr<EVP_PKEY>;
using CertPtr = ryx::UniquePtr<X509>;
using CrlPtr = ryx::UniquePtr<X509_CRL>;
using NamePtr = ryx::UniquePtr<X509_NAME>;

// A new EC P-256 key pair.
KeyPtr makeKey();

// A name from RFC 4514 text ("cn=Alice+uid=a1,o=Org,c=US", most significant RDN
// last): ',' or ';' between RDNs, '+' inside one, '\' before a special character
// or two hex digits. Values are UTF-8. For test data only: no quoted values and no
// '#' values.
NamePtr parseName(const std::string& rfc4514);
// The name as OpenSSL prints it with XN_FLAG_RFC2253.
std::string nameText(const X509_NAME* name);

// Validity or update times relative to now (seconds; negative is the past).
std::time_t fromNow(long seconds);

struct CertOptions {
    std::uint64_t serial = 1;
    std::time_t notBefore = 0;  // 0: an hour ago
    std::time_t notAfter = 0;   // 0: a year from now
    bool ca = false;            // basicConstraints cA, keyCertSign and cRLSign
    int pathLength = -1;        // for a CA; -1: none
    // URIs of the CRL distribution points extension (none: no extension).
    std::vector<std::string> crlDistributionPoints;
    // Subject alternative names, "DNS:name" or "IP:address" (none: no extension).
    std::vector<std::string> subjectAltNames;
};

struct CrlOptions {
    std::size_t revokedCount = 0;
    std::uint64_t firstSerial = 1;  // entries revoke firstSerial, firstSerial + 1, ...
    std::time_t thisUpdate = 0;     // 0: now
    std::time_t nextUpdate = 0;     // 0: a week after thisUpdate
    bool hasNextUpdate = true;
    std::uint64_t crlNumber = 1;
    bool withReasons = false;  // a keyCompromise reason on every tenth entry
    // Further serial numbers revoked beside the contiguous run above.
    std::vector<std::uint64_t> serials;
};

// A certification authority: its key and its certificate.
class Authority {
  public:
    // A self-signed root CA.
    static Authority root(const std::string& subject);  // options caDefaults()
    static Authority root(const std::string& subject, const CertOptions& options);
    // A CA certified by this one.
    Authority intermediate(const std::string& subject) const;  // options caDefaults(2)
    Authority intermediate(const std::string& subject, const CertOptions& options) const;
    // An end-entity certificate for subject, with key, or a new key when null.
    Bytes issue(const std::string& subject, const CertOptions& options,
                const EVP_PKEY* key = nullptr) const;
    Bytes issue(const std::string& subject, std::uint64_t serial) const;
    // A CA certificate for another authority's subject and key, signed by this
    // one: a cross-certificate, or one link of a loop of CAs.
    Bytes certify(const Authority& subjectCA, const CertOptions& options) const;
    // A CRL signed by this CA.
    Bytes crl(const CrlOptions& options = CrlOptions()) const;
    // An authority revocation list: a CRL about CA certificates, marked with a
    // critical issuing-distribution-point extension with onlyContainsCACerts.
    Bytes arl(const CrlOptions& options = CrlOptions()) const;

    Bytes certificateDER() const;
    const X509* certificate() const { return m_cert.get(); }
    EVP_PKEY* key() const { return m_key.get(); }
    std::string subject() const;

    // Options of a CA certificate valid for ten years.
    static CertOptions caDefaults(std::uint64_t serial = 1);

  private:
    Authority(KeyPtr key, CertPtr cert) : m_key(std::move(key)), m_cert(std::move(cert)) {}
    Bytes makeList(const CrlOptions& options, bool authority) const;

    KeyPtr m_key;
    CertPtr m_cert;
};

// DER of OpenSSL objects.
Bytes toDER(const X509* cert);
Bytes toDER(const X509_CRL* crl);
Bytes toDER(const X509_NAME* name);
// OpenSSL objects from DER (exactly all bytes); throw on bad data.
CertPtr certificateFromDER(const Bytes& der);
CrlPtr crlFromDER(const Bytes& der);

// PEM text of DER under label ("CERTIFICATE", "X509 CRL").
std::string toPEM(const Bytes& der, const std::string& label);
std::string certificatePEM(const Bytes& der);
// The private key as unencrypted PKCS #8 PEM text.
std::string privateKeyPEM(const EVP_PKEY* key);
std::string crlPEM(const Bytes& der);
// The DER inside the first PEM block of text.
Bytes fromPEM(const std::string& pem);

// Hex digits of bytes (lower case unless upper).
std::string toHex(const Bytes& bytes, bool upper = false);
// Bytes from hex digits (either case); throws on odd length or a non-hex character.
Bytes fromHex(const std::string& hex);
// The directory's hex text form: "{ASN}" and the hex digits.
std::string asnHexText(const Bytes& der, const std::string& mark = "{ASN}");

}  // namespace labpki

#endif
