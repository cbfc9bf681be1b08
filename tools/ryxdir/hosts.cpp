#include "hosts.h"

#include "ryxldapconfig.h"
#include "ryxldapptr.h"
#include "status.h"

namespace ryxdir {

bool isUriHost(const std::string& hosts) {
    return hosts == "URI" || hosts == "uri";
}

void checkHostList(const std::string& hosts) {
    if (isUriHost(hosts)) {
        return;
    }
    if (hosts.find_first_not_of(" \t") == std::string::npos) {
        usageError("-H needs at least one host");
    }
    char* text = nullptr;
    const int rc = ryx_ldap_check_hosts(hosts.c_str(), &text);
    const ryx::UniquePtr<char, ryx::RyxMemfree> why(text);
    if (rc != 0) {
        usageError(std::string("-H: ") + (why ? why.get() : "out of memory"));
    }
}

std::string describeTargets(const std::string& hosts, int port) {
    if (isUriHost(hosts)) {
        return "the default LDAP host on port " + std::to_string(port);
    }
    const ryx::UniquePtr<char, ryx::RyxMemfree> text(ryx_ldap_describe_hosts(hosts.c_str(), port));
    return text ? text.get() : hosts;
}

}  // namespace ryxdir
