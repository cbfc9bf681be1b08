// Host lists of the toolkit LDAP library: what ryx_ldap_init accepts as its
// host argument, turned into the URL list that OpenLDAP's ldap_initialize takes.
#ifndef RYXLDAP_HOSTLIST_H
#define RYXLDAP_HOSTLIST_H

#include <string>

namespace ryxldap {

// hosts: entries separated by blanks, each one of
//   host  host:port  [v6]  [v6]:port  v6 (two or more colons, no brackets)
//   ldap://host[:port][/]  ldaps://host[:port][/]
// A host is a name or an IPv4 address (letters, digits, '-', '.', '_'), an IPv6
// address inside brackets (hex digits, ':', '.'); ports are 1 to 65535.
// Entries without a scheme get "ldap://" and, without a port, the given one.
// On success *urls holds the list (blank-separated; empty for a blank list).
// On failure *why says which entry is wrong and how; *urls is unchanged.
bool hostListToUrls(const std::string& hosts, int port, std::string* urls, std::string* why);

// The host list with the ":port" of each plain entry removed (OpenLDAP reports
// its default hosts with its own port attached). URL entries stay as they are.
std::string withoutPorts(const std::string& hosts);

}  // namespace ryxldap

#endif
