// The library's side of ryxldapdiag.h: what a search notes for its thread.
#ifndef RYXLDAP_DIAG_H
#define RYXLDAP_DIAG_H

#include <cstddef>

namespace ryxldap {

// A search begins: its byte count starts at 0.
void startProgress();
// n bytes came in on this thread.
void noteReceived(size_t n);
// A search call of the API begins; it ends with its code (C LDAP API
// numbering), which is noted when it failed before any search noted its own,
// and the progress callback hears that it ended.
void beginSearch();
void endSearch(const char* base, int code);
// One search ended: with code (C LDAP API numbering) and the number of entries
// it found; matched is the server's matched DN (null: no answer).
void noteSearch(const char* base, int code, int entries, const char* matched);

}  // namespace ryxldap

#endif
