// Certificate-path validation against a directory, for every program that
// embeds the toolkit. A validator builds a chain upward from a certificate with
// the CA certificates of each issuer's directory entry, gathers the revocation
// lists of every issuer's entry and of the certificates' ldap:// distribution
// points, and lets OpenSSL decide. What it fetched it keeps while fresh, so
// that validating many certificates of one CA fetches each object once.
//
//   RYXPKIXValidator validator(*manager, anchors, "roots.pem", options);
//   RYXPKIXResult result = validator.validate(cert.get(), nullptr, {"file", "alice.pem"});
//   if (result.verdict == RYXPKIXVerdict::Valid) ...
//
// Threads: one validator may be shared by threads. validate() may be called
// from several threads at once; the directory is asked by one thread at a
// time (a manager serves one caller at a time), the caches are guarded, and
// OpenSSL's decisions run in parallel.
#ifndef RYXPKIX_H
#define RYXPKIX_H

#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexport.h"
#include "ryxopensslptr.h"

// Where an object came from: kind "file", "extra" (handed in as untrusted),
// "entry", "url", "trust" or "cache", and the file, entry DN, URL or anchors.
struct RYXPKIXOrigin {
    std::string kind;
    std::string where;
    std::string text() const { return kind + " " + where; }
};

struct RYXPKIXOptions {
    bool atGiven = false;  // validate at `at` instead of now
    std::time_t at = 0;
    bool crlOptional = false;    // a missing list is a warning, not a verdict
    size_t maxPathLength = 16;   // certificates in one path
    size_t maxCandidates = 256;  // candidate issuer certificates tried in one validation
    // Seconds a fetched set of CA certificates is reused; 0: fetched every time.
    long certificateMaxAge = 3600;
    // Seconds a fetched list is reused at most, and never past its next
    // update; 0: fetched every time.
    long crlMaxAge = 86400;
    // A folder where processes share fetched lists; empty: none.
    std::string cacheDir;
    unsigned long long cacheMaxBytes = 1ULL << 30;
    // Acceptable policies (dotted OIDs); non-empty turns policy checking on.
    std::vector<std::string> policies;
    bool explicitPolicy = false;
};

enum class RYXPKIXVerdict { Valid, Invalid, NoPath, RevocationUnavailable };

struct RYXPKIXLink {
    ryx::UniquePtr<X509> cert;
    RYXPKIXOrigin origin;
};

struct RYXPKIXList {
    std::shared_ptr<const RYXASNCertificateList> list;
    std::vector<RYXPKIXOrigin> origins;  // every place it was found
    bool stale = false;                  // past its next update at the validation time
};

// One error OpenSSL reported, for the certificate at depth (0: the one asked about).
struct RYXPKIXError {
    int code = 0;  // X509_V_ERR_*
    int depth = -1;
    std::string text;
};

// A certificate found on a list whose signature verifies.
struct RYXPKIXRevocation {
    int depth = 0;
    std::string serial;     // hex
    std::string date;       // ISO 8601
    std::string reason;     // "keyCompromise", ...; empty without a reason code
    std::string crlNumber;  // decimal; empty when the list has none
    std::string crlIssuer;  // RFC 2253
};

struct RYXPKIXResult {
    // From the certificate asked about upward; without an anchor, the longest path tried.
    std::vector<RYXPKIXLink> chain;
    bool anchored = false;
    std::vector<RYXPKIXList> crls;
    std::vector<std::string> notFetched;  // distribution points of other schemes
    std::vector<std::string> notes;       // candidates passed over, values that did not decode, ...
    std::vector<std::string> warnings;    // what --crl-optional let pass, stale lists, ...
    RYXPKIXVerdict verdict = RYXPKIXVerdict::NoPath;
    RYXPKIXError decisive;             // the error the verdict rests on (code 0: valid)
    std::vector<RYXPKIXError> errors;  // every error OpenSSL found, in its order
    std::vector<RYXPKIXRevocation> revocations;
};

// Raw attribute values of the directory, read past the manager when one of
// its values does not decode, so that one bad value does not hide the good ones.
class RYX_EXPORT RYXPKIXValueSource {
  public:
    struct Value {
        std::string attribute;  // as the server named it
        std::string bytes;
    };
    virtual ~RYXPKIXValueSource();
    // The values of attributes in entry dn (base scope). Throws RYXException
    // when the directory fails.
    virtual std::vector<Value> entryValues(const std::string& dn,
                                           const std::vector<std::string>& attributes) = 0;
    // The values at an LDAP URL.
    virtual std::vector<Value> urlValues(const std::string& url) = 0;
};

// A value source over the toolkit LDAP library, with the connection
// information the manager was made with (a connection of its own, opened on
// first use).
class RYX_EXPORT RYXPKIXLdapValueSource : public RYXPKIXValueSource {
  public:
    explicit RYXPKIXLdapValueSource(const RYXDIRConnectInfo::LDAP& info);
    ~RYXPKIXLdapValueSource() override;
    RYXPKIXLdapValueSource(const RYXPKIXLdapValueSource&) = delete;
    RYXPKIXLdapValueSource& operator=(const RYXPKIXLdapValueSource&) = delete;
    std::vector<Value> entryValues(const std::string& dn,
                                   const std::vector<std::string>& attributes) override;
    std::vector<Value> urlValues(const std::string& url) override;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

class RYX_EXPORT RYXPKIXValidator {
  public:
    // manager and values (may be null) must outlive the validator; anchors is
    // shared (its reference count raised) and gets the validator's list checks,
    // which are OpenSSL's own for everyone else. anchorOrigin names the anchors in
    // results ("roots.pem", "system store").
    RYXPKIXValidator(RYXDIRManager& manager, X509_STORE* anchors, const std::string& anchorOrigin,
                     const RYXPKIXOptions& options, RYXPKIXValueSource* values = nullptr);
    ~RYXPKIXValidator();
    RYXPKIXValidator(const RYXPKIXValidator&) = delete;
    RYXPKIXValidator& operator=(const RYXPKIXValidator&) = delete;

    // Validates cert, with extra (may be null) as untrusted intermediates that
    // are tried before the directory's. A failed search of an issuer's entry
    // is thrown as the manager's exception, unless a kept copy still serves
    // (noted); a distribution point that fails is noted and passed over.
    RYXPKIXResult validate(X509* cert, STACK_OF(X509) * extra, const RYXPKIXOrigin& origin);

    // Words for a verdict: "valid", "invalid", "no path to a trust anchor",
    // "revocation status unavailable"; and as one JSON word.
    static const char* verdictText(RYXPKIXVerdict verdict);
    static const char* verdictWord(RYXPKIXVerdict verdict);
    // RFC 2253 text of a name as OpenSSL prints it; SHA-256 of a certificate
    // in colon-separated hex.
    static std::string nameText(const X509_NAME* name);
    static std::string fingerprint(const X509* cert);
    // ISO 8601 in UTC ("2027-01-02T03:04:05Z"); empty for null or a bad time.
    static std::string isoTime(const ASN1_TIME* time);

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

#endif
