// The -H value: blank-separated host entries "HOST", "HOST:PORT", "[IPV6]",
// "[IPV6]:PORT", "ldap://HOST[:PORT]" or "ldaps://HOST[:PORT]", or the word URI
// (the URLs name their servers). The grammar is the toolkit LDAP library's own,
// so ryxdir refuses exactly what the library would.
#ifndef RYXDIR_HOSTS_H
#define RYXDIR_HOSTS_H

#include <string>

namespace ryxdir {

// True for the word that leaves the server to the URLs.
bool isUriHost(const std::string& hosts);

// Fails with a usage error naming the first malformed entry.
void checkHostList(const std::string& hosts);

// The servers a connection goes to, each with the port it uses:
// "a.example:389 b.example:1389 ldaps://c.example".
std::string describeTargets(const std::string& hosts, int port);

}  // namespace ryxdir

#endif
