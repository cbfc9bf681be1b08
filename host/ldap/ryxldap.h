// The toolkit's LDAP C API library: the classic synchronous C LDAP API under
// the prefix "ryx_", over OpenLDAP's client library. Result codes follow the C
// LDAP API numbering: client-side failures are positive (81 server down, 82
// local error, ... 91 connect error, ... 97).
//
// The connection handle is opaque: it is this library's own object, valid only
// with these functions. Result messages are OpenLDAP's and may come from any
// connection of a handle (its URL searches use connections of their own).
#ifndef RYXLDAP_H
#define RYXLDAP_H

#include <ldap.h>
#include <sys/time.h>

#define RYX_LDAP_EXPORT __attribute__((visibility("default")))

extern "C" {
// host: null or blank (the default host), or one or more space-separated "host" or
// "host:port", tried in turn. port: the port for hosts that name none (0: 389).
// Nothing connects before the first operation; a connect gives up after the
// network timeout (30 s, or RYX_LDAP_NETWORK_TIMEOUT seconds from the
// environment). The protocol version is 3 until set otherwise.
RYX_LDAP_EXPORT LDAP* ryx_ldap_init(const char* host, int port);
RYX_LDAP_EXPORT int ryx_ldap_msgfree(LDAPMessage* msg);
RYX_LDAP_EXPORT char* ryx_ldap_err2string(int rc);
RYX_LDAP_EXPORT int ryx_ldap_set_option(LDAP* ld, int option, const void* value);
RYX_LDAP_EXPORT int ryx_ldap_simple_bind_s(LDAP* ld, const char* dn, const char* password);
RYX_LDAP_EXPORT int ryx_ldap_unbind(LDAP* ld);
// timeout null: no time limit.
RYX_LDAP_EXPORT int ryx_ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter,
                                       char** attrs, int attrsonly, struct timeval* timeout,
                                       LDAPMessage** result);
// A URL naming a host is searched anonymously on a connection to that server
// (port 389 when it names none), kept for later URLs to the same server and
// closed by ryx_ldap_unbind; a URL without a host is searched on ld itself.
RYX_LDAP_EXPORT int ryx_ldap_url_search_st(LDAP* ld, const char* url, int attrsonly,
                                           struct timeval* timeout, LDAPMessage** result);
RYX_LDAP_EXPORT int ryx_ldap_url_parse(const char* url, LDAPURLDesc** desc);
RYX_LDAP_EXPORT void ryx_ldap_free_urldesc(LDAPURLDesc* desc);
RYX_LDAP_EXPORT int ryx_ldap_count_entries(LDAP* ld, LDAPMessage* result);
RYX_LDAP_EXPORT int ryx_ldap_add_s(LDAP* ld, const char* dn, LDAPMod** mods);
RYX_LDAP_EXPORT int ryx_ldap_delete_s(LDAP* ld, const char* dn);
RYX_LDAP_EXPORT int ryx_ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods);
RYX_LDAP_EXPORT int ryx_ldap_modrdn_s(LDAP* ld, const char* dn, const char* newrdn,
                                      int deleteoldrdn);
RYX_LDAP_EXPORT LDAPMessage* ryx_ldap_first_entry(LDAP* ld, LDAPMessage* result);
RYX_LDAP_EXPORT LDAPMessage* ryx_ldap_next_entry(LDAP* ld, LDAPMessage* entry);
RYX_LDAP_EXPORT char* ryx_ldap_get_dn(LDAP* ld, LDAPMessage* entry);
RYX_LDAP_EXPORT void ryx_ldap_memfree(void* p);
RYX_LDAP_EXPORT char* ryx_ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber);
RYX_LDAP_EXPORT char* ryx_ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber);
RYX_LDAP_EXPORT struct berval** ryx_ldap_get_values_len(LDAP* ld, LDAPMessage* entry,
                                                        const char* attr);
RYX_LDAP_EXPORT void ryx_ldap_value_free_len(struct berval** values);
// The last result code of an operation on ld (C LDAP API numbering).
RYX_LDAP_EXPORT int ryx_ldap_get_errno(LDAP* ld);
// Releases the attribute iteration state (its buffer is the entry's).
RYX_LDAP_EXPORT void ryx_ldap_ber_free(BerElement* ber);
}

#endif
