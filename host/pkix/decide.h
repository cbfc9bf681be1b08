// The decision on a chain: OpenSSL's X509_verify_cert with revocation checking
// for every certificate of the chain (delta and indirect lists, scopes), every
// error it finds collected, and a strict verdict made of them.
#ifndef PKIXDECIDE_H
#define PKIXDECIDE_H

#include <map>
#include <mutex>

#include "pkixinternal.h"

namespace ryxpkix {

// Whether a list's signature verifies with a key, each pair checked once:
// OpenSSL is handed narrowed copies of the lists (see decide), whose own
// signature no longer verifies, and the list they were made from answers for
// them. Thread-safe.
class ListSignatures {
  public:
    bool verifies(const ListPtr& list, EVP_PKEY* key);

  private:
    struct Checked {
        ListPtr list;  // kept so that its address names it
        std::map<std::string, bool> byKey;
    };
    std::mutex m_mutex;
    std::map<const RYXASNCertificateList*, Checked> m_checked;
};

// Makes the store's list checks OpenSSL's own, wrapped so that the errors they
// raise are known by list. Other users of the store see OpenSSL's behaviour.
void useListChecks(X509_STORE* anchors);

// Fills result's verdict, errors, revocations and warnings for its chain and
// lists. OpenSSL gets each list narrowed to the entries of the chain's serial
// numbers, so that a validation does not cost what the whole list costs to
// decode and hash; OpenSSL's signature failure on such a copy stands only when
// the whole list does not verify with the key OpenSSL used.
void decide(RYXPKIXResult& result, X509_STORE* anchors, const RYXPKIXOptions& options,
            ListSignatures& signatures);

}  // namespace ryxpkix

#endif
