// The library's calls for its host program: settings, OpenLDAP's configuration
// and host lists.
#include "configure.h"

#include <lber.h>
#include <ldap.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "hostlist.h"
#include "ldapconf.h"
#include "ryxldap.h"
#include "ryxldapconfig.h"

#ifndef RYX_LDAP_CONF_FILE
#define RYX_LDAP_CONF_FILE "/etc/ldap/ldap.conf"
#endif

namespace ryxldap {

namespace {

// Result codes in the C LDAP API numbering (OpenLDAP's are negative).
constexpr int kBadParameter = 89;
constexpr int kLocalError = 82;

// Plain data with constant initialisation: safe to use while the process exits.
std::mutex g_mutex;
ryx_ldap_config g_configured = {};

// A copy the caller frees with ryx_ldap_memfree (OpenLDAP's allocator).
char* copied(const std::string& text) {
    return ber_strdup(text.c_str());
}

// OpenLDAP reads the CA file once, when it makes its first TLS context: a new
// file needs a new context for the connections opened afterwards.
int useCaFile(const char* path) {
    int zero = 0;
    if (ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, path) != LDAP_OPT_SUCCESS ||
        ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &zero) != LDAP_OPT_SUCCESS) {
        noteFailure(kLocalError, std::string("TLS: cannot use the CA file \"") + path + "\"");
        return kLocalError;
    }
    return LDAP_SUCCESS;
}

// Earlier settings with the fields of next that its bits name. The CA file is
// OpenLDAP's to keep.
ryx_ldap_config merged(ryx_ldap_config c, const ryx_ldap_config& next) {
    const unsigned int bits = next.set & ~RYX_LDAP_SET_CACERT;
    if (bits & RYX_LDAP_SET_STARTTLS)
        c.starttls = next.starttls;
    if (bits & RYX_LDAP_SET_FOLD_BINARY)
        c.fold_binary = next.fold_binary;
    if (bits & RYX_LDAP_SET_TIMEOUT)
        c.timeout = next.timeout;
    if (bits & RYX_LDAP_SET_NETWORK_TIMEOUT)
        c.network_timeout = next.network_timeout;
    if (bits & RYX_LDAP_SET_DEADLINE)
        c.deadline = next.deadline;
    if (bits & RYX_LDAP_SET_NOTICE) {
        c.notice = next.notice;
        c.notice_arg = next.notice_arg;
    }
    c.set |= bits;
    return c;
}

}  // namespace

Settings configured(Settings s) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return overridden(s, g_configured);
}

}  // namespace ryxldap

extern "C" {

int ryx_ldap_configure(const ryx_ldap_config* config) {
    std::string why;
    if (config == nullptr)
        why = "no settings";
    if (config == nullptr || !ryxldap::acceptable(*config, &why)) {
        ryxldap::noteFailure(ryxldap::kBadParameter, "settings: " + why);
        return ryxldap::kBadParameter;
    }
    if ((config->set & RYX_LDAP_SET_CACERT) != 0) {
        const int rc = ryxldap::useCaFile(config->cacert);
        if (rc != LDAP_SUCCESS)
            return rc;
    }
    std::lock_guard<std::mutex> lock(ryxldap::g_mutex);
    ryxldap::g_configured =
        config->set == 0 ? ryx_ldap_config{} : ryxldap::merged(ryxldap::g_configured, *config);
    return LDAP_SUCCESS;
}

int ryx_ldap_conf_option(const char* option, char** value, char** origin) {
    if (option == nullptr || value == nullptr || origin == nullptr)
        return ryxldap::kBadParameter;
    *value = *origin = nullptr;
    ryxldap::ConfSources sources;
    sources.systemFile = RYX_LDAP_CONF_FILE;
    sources.getenv = [](const char* name) { return std::getenv(name); };
    sources.setUserId = ::geteuid() != ::getuid();
    ryxldap::ConfValue found;
    if (!ryxldap::confOption(option, sources, &found))
        return 1;
    *value = ryxldap::copied(found.value);
    *origin = ryxldap::copied(found.origin);
    if (*value == nullptr || *origin == nullptr) {
        ryx_ldap_memfree(*value);
        ryx_ldap_memfree(*origin);
        *value = *origin = nullptr;
        return ryxldap::kLocalError;
    }
    return LDAP_SUCCESS;
}

int ryx_ldap_check_hosts(const char* hosts, char** why) {
    std::string urls, reason;
    if (hosts != nullptr && ryxldap::hostListToUrls(hosts, LDAP_PORT, &urls, &reason) &&
        !urls.empty())
        return LDAP_SUCCESS;
    if (hosts != nullptr && reason.empty())
        reason = "no host";
    if (why != nullptr)
        *why = ryxldap::copied(hosts == nullptr ? "no host list" : reason);
    return ryxldap::kBadParameter;
}

char* ryx_ldap_describe_hosts(const char* hosts, int port) {
    std::string urls, why;
    if (port <= 0 || port > 65535)
        port = LDAP_PORT;
    if (hosts == nullptr || !ryxldap::hostListToUrls(hosts, port, &urls, &why))
        return nullptr;
    // Plain connections are named by host and port, TLS ones by their URL.
    std::string text;
    for (std::string url : ryxldap::entries(urls)) {
        if (url.compare(0, 7, "ldap://") == 0)
            url.erase(0, 7);
        text += (text.empty() ? "" : " ") + url;
    }
    return ryxldap::copied(text);
}

}  // extern "C"
