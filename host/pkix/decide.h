// The decision on a chain: OpenSSL's X509_verify_cert with revocation checking
// for every certificate of the chain (delta and indirect lists, scopes), every
// error it finds collected, and a strict verdict made of them.
#ifndef PKIXDECIDE_H
#define PKIXDECIDE_H

#include "pkixinternal.h"

namespace ryxpkix {

// Makes the store's list checks OpenSSL's own, wrapped so that the errors they
// raise are known by list. Other users of the store see OpenSSL's behaviour.
void useListChecks(X509_STORE* anchors);

// Fills result's verdict, errors, revocations and warnings for its chain and
// lists. OpenSSL's lists are the toolkit's lists' objects.
void decide(RYXPKIXResult& result, X509_STORE* anchors, const RYXPKIXOptions& options);

}  // namespace ryxpkix

#endif
