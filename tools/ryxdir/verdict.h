// The decision on a chain: OpenSSL's X509_verify_cert with CRL checking for
// every certificate of the chain and the lists gathered from the directory.
#ifndef RYXDIR_VERDICT_H
#define RYXDIR_VERDICT_H

#include <ctime>
#include <string>
#include <vector>

#include "chain.h"
#include "revocation.h"
#include "trust.h"

namespace ryxdir {

struct Verdict {
    int status = 0;      // exit status: 0 valid, 6 invalid, 7 no path, 8 revocation unavailable
    int error = 0;       // OpenSSL's X509_V_ERR_* code
    int depth = -1;      // the certificate it concerns (0: the one asked about)
    std::string reason;  // OpenSSL's text
    // With crlOptional: the certificates for which no list was found.
    std::vector<std::string> warnings;
};

struct DecisionOptions {
    bool crlOptional = false;
    bool atGiven = false;
    std::time_t at = 0;
};

Verdict decide(const Chain& chain, const TrustStore& trust, const Revocation& revocation,
               const DecisionOptions& options);

// The exit status that an OpenSSL verification error leads to.
int statusForError(int error);

// "valid", "invalid", "no path to a trust anchor", "revocation status unavailable".
const char* verdictText(int status);
// The same as one JSON word: "valid", "invalid", "no-path", "revocation-unavailable".
const char* verdictWord(int status);

}  // namespace ryxdir

#endif
