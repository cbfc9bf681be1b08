#include "hosts.h"

#include "ryxldapconfig.h"
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
    char* why = nullptr;
    if (ryx_ldap_check_hosts(hosts.c_str(), &why) != 0) {
        const std::string reason = why != nullptr ? why : "out of memory";
        ryx_ldap_memfree(why);
        usageError("-H: " + reason);
    }
}

std::string describeTargets(const std::string& hosts, int port) {
    if (isUriHost(hosts)) {
        return "the default LDAP host on port " + std::to_string(port);
    }
    char* text = ryx_ldap_describe_hosts(hosts.c_str(), port);
    const std::string described = text != nullptr ? text : hosts;
    ryx_ldap_memfree(text);
    return described;
}

}  // namespace ryxdir
