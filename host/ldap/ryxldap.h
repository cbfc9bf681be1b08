// The toolkit's LDAP C API library: the classic synchronous C LDAP API under
// the prefix "ryx_", over OpenLDAP's client library. Result codes follow the C
// LDAP API numbering: client-side failures are positive (81 server down, 82
// local error, ... 91 connect error, ... 97), where OpenLDAP's are negative.
//
// Handles. The connection handle is opaque: a number issued by this library,
// not an address, valid only with these functions. Every function checks it and
// refuses a handle it did not issue (or one already unbound) with 89, "Bad
// parameter to an ldap routine". Result messages are OpenLDAP's and may come
// from any connection of a handle (its URL searches use connections of their
// own).
//
// Host lists. The hosts of a handle are tried in list order, except that hosts
// that failed within the last five minutes (in any handle of the process) come
// after the others, the one that failed longest ago first. A host fails when it
// cannot be reached, does not answer in time (connect, TLS handshake, bind,
// search: see RYX_LDAP_TIMEOUT and RYX_LDAP_NETWORK_TIMEOUT) or TLS fails; the
// operation then moves on to the next host within the same call and deadline
// (bound again with the handle's last successful bind; a write only when its
// request had not gone out) and the failed host is remembered. A host that
// answers is forgotten. Options set on the handle that carry over to the next
// host: protocol version, deref, size and time limits, referrals.
//
// Lost servers. When an operation finds the server of a handle gone (81, 91, a
// silent server, a failed TLS set-up) and no next host answers, the handle is
// closed at once: its
// sockets and OpenLDAP state are released, and every later operation on it
// answers with the same code and reason until it is unbound. A caller that
// forgets such a handle without an unbind loses only a small record: the 64
// most recently closed of them are kept, older ones are reclaimed (their
// handles then count as unknown), and all are reclaimed when the library is
// unloaded.
//
// Settings, read from the environment by each ryx_ldap_init (what the host
// program set through ryx_ldap_configure, in ryxldapconfig.h, wins):
//   RYX_LDAP_TIMEOUT          seconds an operation waits without receiving data
//                             from the server (default 60; 0: no bound). A server
//                             that stays silent that long counts as down (the
//                             next host is tried, see Host lists; else 81),
//                             however long a transfer that keeps arriving
//                             takes. Also bounds each connect.
//   RYX_LDAP_NETWORK_TIMEOUT  seconds a connect may take (default 30; 0: only
//                             RYX_LDAP_TIMEOUT bounds it).
//   RYX_LDAP_DEADLINE         seconds an operation may take in all, from the
//                             connect through the last byte of its answer, over
//                             every host tried (default 600; 0: no bound): a
//                             server that drips its answer is reported as down
//                             (81) then.
//   RYX_LDAP_STARTTLS         off (default), try or require: StartTLS on every
//                             ldap:// connection before its first operation.
//                             "try" goes on in clear text when the server refuses
//                             StartTLS; "require" fails with 91 then. A handshake
//                             or certificate failure fails with 91 in both.
//   RYX_LDAP_FOLD_BINARY      0 (default) or 1: when a search asked for an
//                             attribute by its plain name only and the server
//                             answers "NAME;binary", report it as "NAME" (see
//                             ryx_ldap_first_attribute).
// The times are at most 86400 seconds; a larger value is clamped, a value that
// is not a number is ignored, an unknown RYX_LDAP_STARTTLS value means "require";
// each such case writes a trace record (component 0x200, level 1).
//
// TLS. ldaps:// entries of a host list and StartTLS verify the server's
// certificate and host name as OpenLDAP is configured: ldap.conf (TLS_CACERT,
// TLS_CACERTDIR, TLS_REQCERT; default: the system's CA store, certificates
// demanded), ~/.ldaprc, and LDAPTLS_CACERT, LDAPTLS_REQCERT, ... in the
// environment. OpenLDAP reads these once, when the process first uses it: a host
// program sets them before it loads this library. Later,
// ryx_ldap_set_option(NULL, LDAP_OPT_X_TLS_CACERTFILE, ...) and then
// LDAP_OPT_X_TLS_NEWCTX change them for connections opened afterwards (as
// ryx_ldap_configure does for its CA file). A failed
// TLS set-up says why, from that handshake: the server's certificate expired,
// is not valid yet, comes from an unknown issuer or does not name the host
// checked (OpenLDAP checks the machine's own name for "localhost"), or the
// server refused the handshake.
//
// Reasons. A failure whose cause OpenLDAP's code does not tell (a silent server,
// TLS, a bad URL or host list, an unknown handle) leaves a reason:
// ryx_ldap_err2string of that code then gives the usual text followed by the
// reason in parentheses, on the same thread, until the next failure there. The
// reason is also written to the trace (component 0x200, level 1).
#ifndef RYXLDAP_H
#define RYXLDAP_H

#include <ldap.h>
#include <sys/time.h>

#define RYX_LDAP_EXPORT __attribute__((visibility("default")))

extern "C" {
// host: null or blank (the hosts of ldap.conf, else localhost), or a list of
// entries separated by blanks, tried in turn: "host", "host:port", "[v6]",
// "[v6]:port", a bare IPv6 address, "ldap://host[:port]" or "ldaps://host[:port]".
// port: the port of entries that name none (out of 1..65535: 389). Nothing
// connects before the first operation. Unlike OpenLDAP's ldap_init, a host list
// that does not parse still gives a handle, whose first operation fails with 89
// and says which entry is wrong. Null only when out of memory. The protocol
// version is 3 until set otherwise.
RYX_LDAP_EXPORT LDAP* ryx_ldap_init(const char* host, int port);
// As OpenLDAP's; also forgets the result's ";binary" folding. Null: 0.
RYX_LDAP_EXPORT int ryx_ldap_msgfree(LDAPMessage* msg);
// Takes the C LDAP API numbering (81 ... 97 where OpenLDAP has -1 ... -17) and
// adds the reason of this thread's latest failure with that code (see Reasons).
RYX_LDAP_EXPORT char* ryx_ldap_err2string(int rc);
// On the handle's primary connection; null sets OpenLDAP's defaults for handles
// made afterwards. A closed handle answers with its closing code.
RYX_LDAP_EXPORT int ryx_ldap_set_option(LDAP* ld, int option, const void* value);
// Connects (StartTLS as configured) and binds; bounded by RYX_LDAP_TIMEOUT.
RYX_LDAP_EXPORT int ryx_ldap_simple_bind_s(LDAP* ld, const char* dn, const char* password);
// Closes and releases the handle, also a closed one. An unknown handle: 89.
RYX_LDAP_EXPORT int ryx_ldap_unbind(LDAP* ld);
// timeout null: no time limit; otherwise also the server's time limit, and 85
// (timeout) once it has passed. Either way bounded by RYX_LDAP_TIMEOUT without
// data. Connects first when the handle has no connection yet (anonymously).
RYX_LDAP_EXPORT int ryx_ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter,
                                       char** attrs, int attrsonly, struct timeval* timeout,
                                       LDAPMessage** result);
// Not in OpenLDAP: one page of a paged search (RFC 2696, the control marked
// critical), bounded as ryx_ldap_search_st without a time limit. *cookie is
// empty ({0, NULL}) for the first page; on success it is replaced by the
// cookie of the next page, empty after the last. The caller releases a
// cookie it stops with by ryx_ldap_memfree(cookie->bv_val). Only the first
// page moves on to a next host (a cookie belongs to its server).
RYX_LDAP_EXPORT int ryx_ldap_search_page_st(LDAP* ld, const char* base, int scope,
                                            const char* filter, char** attrs, int pageSize,
                                            struct berval* cookie, LDAPMessage** result);
// OpenLDAP has no synchronous URL search. A URL naming a host is searched
// anonymously on a connection to that server (port 389, or 636 for ldaps://,
// when it names none), kept for later URLs to the same server, dropped when
// that server is lost (without closing ld) and closed by ryx_ldap_unbind; a URL
// without a host is searched on ld itself. A URL that does not parse (see
// ryx_ldap_url_parse) is never searched: 89, or 92 for a critical extension,
// with the reason.
RYX_LDAP_EXPORT int ryx_ldap_url_search_st(LDAP* ld, const char* url, int attrsonly,
                                           struct timeval* timeout, LDAPMessage** result);
// OpenLDAP's parser, which also refuses a '%' not followed by two hex digits
// and "%00" anywhere (LDAP_URL_ERR_BADURL), and any critical extension
// (LDAP_URL_ERR_BADEXTS).
RYX_LDAP_EXPORT int ryx_ldap_url_parse(const char* url, LDAPURLDesc** desc);
// As OpenLDAP's; null is allowed.
RYX_LDAP_EXPORT void ryx_ldap_free_urldesc(LDAPURLDesc* desc);
// -1 for an unknown handle or a null result.
RYX_LDAP_EXPORT int ryx_ldap_count_entries(LDAP* ld, LDAPMessage* result);
// Writes: OpenLDAP's _ext functions awaited within RYX_LDAP_TIMEOUT.
RYX_LDAP_EXPORT int ryx_ldap_add_s(LDAP* ld, const char* dn, LDAPMod** mods);
RYX_LDAP_EXPORT int ryx_ldap_delete_s(LDAP* ld, const char* dn);
RYX_LDAP_EXPORT int ryx_ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods);
// OpenLDAP's ldap_modrdn_s lacks deleteoldrdn; this one is ldap_rename.
RYX_LDAP_EXPORT int ryx_ldap_modrdn_s(LDAP* ld, const char* dn, const char* newrdn,
                                      int deleteoldrdn);
// The result walk works on any result of the handle, also after the handle was
// closed. An unknown handle gives null.
RYX_LDAP_EXPORT LDAPMessage* ryx_ldap_first_entry(LDAP* ld, LDAPMessage* result);
RYX_LDAP_EXPORT LDAPMessage* ryx_ldap_next_entry(LDAP* ld, LDAPMessage* entry);
RYX_LDAP_EXPORT char* ryx_ldap_get_dn(LDAP* ld, LDAPMessage* entry);
// As OpenLDAP's; null is allowed.
RYX_LDAP_EXPORT void ryx_ldap_memfree(void* p);
// With RYX_LDAP_FOLD_BINARY=1, a name "NAME;binary" is reported as "NAME" when
// the search asked for NAME by its plain name and not for "NAME;binary", and the
// entry has no plain NAME of its own; ryx_ldap_get_values_len(NAME) then gives
// those values. Otherwise the names are the server's.
RYX_LDAP_EXPORT char* ryx_ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber);
RYX_LDAP_EXPORT char* ryx_ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber);
RYX_LDAP_EXPORT struct berval** ryx_ldap_get_values_len(LDAP* ld, LDAPMessage* entry,
                                                        const char* attr);
// As OpenLDAP's; null is allowed.
RYX_LDAP_EXPORT void ryx_ldap_value_free_len(struct berval** values);
// Not in OpenLDAP: the last result code of an operation on ld (C LDAP API
// numbering); 89 for an unknown handle.
RYX_LDAP_EXPORT int ryx_ldap_get_errno(LDAP* ld);
// Not in OpenLDAP (ber_free(ber, freebuf)): releases the attribute iteration
// state. Its buffer is the entry's, so freebuf is ignored (taken as 0).
RYX_LDAP_EXPORT void ryx_ldap_ber_free(BerElement* ber, int freebuf);
}

#endif
