// What the toolkit LDAP library tells a program that reaches it through a
// plug-in: the last search of a thread that failed or found nothing (the base
// it searched and the part of it the server matched), and the bytes a search
// has received so far, for a progress display. Both are per thread: a program
// asks on the thread that made the plug-in's call.
#ifndef RYXLDAPDIAG_H
#define RYXLDAPDIAG_H

#define RYX_LDAP_DIAG_EXPORT __attribute__((visibility("default")))

extern "C" {
// This thread's last search (by DN or by URL). 1 when it failed or found no
// entry: *code is its result code (C LDAP API numbering; 0 when it found
// nothing), *base the DN it searched and *matched the DN the server said it
// matched ("" when it matched nothing or sent no answer); the texts stay valid
// until this thread's next search, and a DN longer than 1 KB ends in "...".
// 0 when the last search found entries, or none ran. Null arguments are
// allowed.
RYX_LDAP_DIAG_EXPORT int ryx_ldap_last_miss(int* code, const char** base, const char** matched);

// Called on the thread of a search when it begins, with 0, after each read that
// brought data from the server, with the bytes that search has received so far
// (on the wire, TLS included), and once more with ended 1 when the search call
// returns, however it ended.
typedef void (*ryx_ldap_progress_fn)(unsigned long long received, int ended, void* arg);
// Registers fn with arg for the searches of this thread; null removes it.
RYX_LDAP_DIAG_EXPORT void ryx_ldap_set_progress(ryx_ldap_progress_fn fn, void* arg);
}

#endif
