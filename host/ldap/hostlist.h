// Host lists of the toolkit LDAP library: what ryx_ldap_init accepts as its
// host argument, turned into the URL list that OpenLDAP's ldap_initialize takes.
#ifndef RYXLDAP_HOSTLIST_H
#define RYXLDAP_HOSTLIST_H

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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

// The blank-separated entries of a list.
std::vector<std::string> entries(const std::string& text);

// Which hosts failed lately (did not answer in time or could not be reached),
// shared by all connections of the process: a list is tried with those hosts
// last, so that a retry and later connections start at one that answered.
// Thread-safe.
class HostMemory {
  public:
    using Clock = std::chrono::steady_clock;
    explicit HostMemory(Clock::duration keep = std::chrono::minutes(5)) : m_keep(keep) {}

    void failed(const std::string& url, Clock::time_point now = Clock::now());
    void answered(const std::string& url);
    // urls in their order, except that those that failed within the time kept
    // come after the others, the longest ago first.
    std::vector<std::string> order(const std::vector<std::string>& urls,
                                   Clock::time_point now = Clock::now());
    void clear();

  private:
    Clock::duration m_keep;
    std::mutex m_mutex;
    std::map<std::string, Clock::time_point> m_failed;
};

}  // namespace ryxldap

#endif
