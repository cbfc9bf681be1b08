// Certificate chains built upward from a certificate: issuers from the
// directory, tried in turn until one leads to a trust anchor.
#ifndef RYXDIR_CHAIN_H
#define RYXDIR_CHAIN_H

#include <functional>
#include <string>
#include <vector>

#include "ossl.h"
#include "trust.h"

namespace ryxdir {

// Where an object came from: kind "file", "entry", "url" or "trust", and the
// file name, entry DN, URL or trust origin.
struct Origin {
    std::string kind;
    std::string where;
    std::string text() const { return kind + " " + where; }
};

struct Link {
    X509Ptr cert;
    Origin origin;
};

struct Chain {
    // From the certificate asked about upward. When no anchor was reached:
    // the longest path tried.
    std::vector<Link> links;
    bool anchored = false;
    // Candidates passed over and why, dead ends, loops.
    std::vector<std::string> notes;
};

// The CA certificates that the directory entry of a subject holds.
using IssuerLookup = std::function<CertStack(const X509_NAME* subject)>;

struct ChainLimits {
    size_t maxLength = 16;       // certificates in one path
    size_t maxCandidates = 256;  // candidate certificates tried in all
};

// Builds a chain for leaf. A candidate issuer must carry the subject named as
// issuer and hold the key that verifies the signature; candidates whose subject
// key identifier matches the authority key identifier go first. A CA that is
// already on the path (same subject and key) is a loop and is not taken again.
Chain buildChain(X509Ptr leaf, const Origin& leafOrigin, const TrustStore& trust,
                 const IssuerLookup& lookup, const ChainLimits& limits = ChainLimits());

}  // namespace ryxdir

#endif
