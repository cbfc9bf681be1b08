// The revocation lists for a chain: those of each certificate's issuer entry
// (ARLs and CRLs for a CA certificate, CRLs for an end-entity certificate) and
// those at the ldap:// URLs of its CRL distribution points.
#ifndef RYXDIR_REVOCATION_H
#define RYXDIR_REVOCATION_H

#include <string>
#include <vector>

#include "chain.h"
#include "directory.h"

namespace ryxdir {

struct CrlRecord {
    CrlPtr crl;
    std::vector<Origin> origins;  // every place it was found
};

struct Revocation {
    std::vector<CrlRecord> crls;          // each list once
    std::vector<std::string> notFetched;  // distribution points of other schemes
    std::vector<std::string> notes;       // URLs that failed
};

// A failed URL is noted and passed over (the decision then says whether a list
// is missing); a failed search of an issuer entry ends the command (status 4).
Revocation gatherRevocation(const std::vector<Link>& chain, Directory& directory);

// The URIs of the certificate's CRL distribution points, in order.
std::vector<std::string> distributionPoints(const X509* cert);

}  // namespace ryxdir

#endif
