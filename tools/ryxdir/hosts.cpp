#include "hosts.h"

#include <sstream>

#include "hostlist.h"
#include "status.h"

namespace ryxdir {

bool isUriHost(const std::string& hosts) {
    return hosts == "URI" || hosts == "uri";
}

void checkHostList(const std::string& hosts) {
    if (isUriHost(hosts)) {
        return;
    }
    std::string urls, why;
    if (!ryxldap::hostListToUrls(hosts, 389, &urls, &why)) {
        usageError("-H: " + why);
    }
    if (urls.empty()) {
        usageError("-H needs at least one host");
    }
}

std::string describeTargets(const std::string& hosts, int port) {
    if (isUriHost(hosts)) {
        return "the default LDAP host on port " + std::to_string(port);
    }
    std::string urls, why;
    if (!ryxldap::hostListToUrls(hosts, port, &urls, &why)) {
        return hosts;
    }
    // Plain connections are named by host and port, TLS ones by their URL.
    std::istringstream in(urls);
    std::string text;
    for (std::string url; in >> url;) {
        if (url.compare(0, 7, "ldap://") == 0) {
            url.erase(0, 7);
        }
        text += (text.empty() ? "" : " ") + url;
    }
    return text;
}

}  // namespace ryxdir
