// Settings of the toolkit LDAP library for the program that hosts it, and what
// the library knows about OpenLDAP's configuration and host lists. A program
// links libryx8ldap.so itself (the same file the directory plug-in reaches, so
// one copy serves both) and calls ryx_ldap_configure before the plug-in opens
// connections. What the call sets wins over the library's environment
// variables (see ryxldap.h); what it leaves out still comes from them.
#ifndef RYXLDAPCONFIG_H
#define RYXLDAPCONFIG_H

#include <stddef.h>

#define RYX_LDAP_CONFIG_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

// Which fields of struct ryx_ldap_config the call takes; the others keep their
// current value (the environment's, or an earlier call's).
#define RYX_LDAP_SET_STARTTLS 0x01u
#define RYX_LDAP_SET_FOLD_BINARY 0x02u
#define RYX_LDAP_SET_TIMEOUT 0x04u
#define RYX_LDAP_SET_NETWORK_TIMEOUT 0x08u
#define RYX_LDAP_SET_DEADLINE 0x10u
#define RYX_LDAP_SET_CACERT 0x20u
#define RYX_LDAP_SET_NOTICE 0x40u

#define RYX_LDAP_STARTTLS_OFF 0
#define RYX_LDAP_STARTTLS_TRY 1
#define RYX_LDAP_STARTTLS_REQUIRE 2

// The variable that turns ";binary" folding on (1) or off (0) when no call
// sets it; a program that defaults folding on leaves a value of the user's own.
#define RYX_LDAP_FOLD_BINARY_VARIABLE "RYX_LDAP_FOLD_BINARY"

// The longest bound in seconds (a day).
#define RYX_LDAP_MAX_SECONDS 86400L

// Called (on the thread of the operation) when a connection goes on in clear
// text because the server refused StartTLS under RYX_LDAP_STARTTLS_TRY; text
// names the server and gives its answer.
typedef void (*ryx_ldap_notice_fn)(void* arg, const char* text);

struct ryx_ldap_config {
    size_t size;                // sizeof(struct ryx_ldap_config) as the caller knows it
    unsigned int set;           // RYX_LDAP_SET_* bits
    int starttls;               // RYX_LDAP_STARTTLS_*
    int fold_binary;            // 0 or 1
    long timeout;               // seconds without data; also bounds each connect; 0: none
    long network_timeout;       // seconds a connect may take; 0: only timeout bounds it
    long deadline;              // seconds an operation may take in all; 0: none
    const char* cacert;         // CA certificates (PEM file) for connections opened afterwards
    ryx_ldap_notice_fn notice;  // null: no notices
    void* notice_arg;
};

// 0 on success; a config whose set is 0 forgets what earlier calls set (the
// CA file stays OpenLDAP's). 89 (bad parameter) for a null config, a size smaller than the
// first fields, unknown bits, or a value out of range (times 0 to
// RYX_LDAP_MAX_SECONDS, starttls and fold_binary as above); nothing is changed
// then. 82 (local error) when OpenLDAP refuses the CA file (ryx_ldap_err2string
// says why). The CA file takes effect for connections opened afterwards.
RYX_LDAP_CONFIG_EXPORT int ryx_ldap_configure(const struct ryx_ldap_config* config);

// OpenLDAP's configuration as its library reads it at start-up: the system's
// ldap.conf, then (unless the program runs set-user-ID) $HOME/ldaprc,
// $HOME/.ldaprc, ./ldaprc, the file named by LDAPCONF, $LDAPRC in the same three
// forms, then the variables LDAP<OPTION>; later ones win; LDAPNOINIT set: none.
// option: a keyword such as "TLS_CACERT" (case ignored). "URI" answers the
// default servers: the last of URI and HOST (with PORT) given, as URLs.
// On 0, *value and *origin are set (free with ryx_ldap_memfree): origin is
// "FILE (KEYWORD)" or the variable's name. 1 when the option is not set
// anywhere (both null then); 89 for null arguments; 82 when out of memory.
RYX_LDAP_CONFIG_EXPORT int ryx_ldap_conf_option(const char* option, char** value, char** origin);

// Checks a host list as ryx_ldap_init reads it (see ryxldap.h). 0 when it
// parses and names at least one host; otherwise 89 with *why (free with
// ryx_ldap_memfree) saying which entry is wrong.
RYX_LDAP_CONFIG_EXPORT int ryx_ldap_check_hosts(const char* hosts, char** why);

// The servers a host list goes to, blank-separated, each plain one as
// "HOST:PORT" and each TLS one as its URL; null when the list does not parse.
// Free with ryx_ldap_memfree.
RYX_LDAP_CONFIG_EXPORT char* ryx_ldap_describe_hosts(const char* hosts, int port);

// Also in ryxldap.h, for programs that do not include OpenLDAP's headers.
RYX_LDAP_CONFIG_EXPORT void ryx_ldap_memfree(void* p);
RYX_LDAP_CONFIG_EXPORT char* ryx_ldap_err2string(int rc);

#ifdef __cplusplus
}
#endif

#endif
