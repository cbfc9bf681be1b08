#include "ryxldap.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

// OpenLDAP reports client-side failures as -1 .. -17; the C LDAP API numbers
// the same failures 0x51 .. 0x61 in the same order.
constexpr int kFirstClientCode = 0x51;
constexpr int kLastClientCode = 0x61;
constexpr int kClientCodeCount = kLastClientCode - kFirstClientCode + 1;

int toApiCode(int rc) {
    if (rc < 0 && rc >= -kClientCodeCount)
        return kFirstClientCode - 1 - rc;
    return rc;
}

int toOpenLdapCode(int rc) {
    if (rc >= kFirstClientCode && rc <= kLastClientCode)
        return kFirstClientCode - 1 - rc;
    return rc;
}

constexpr int kDefaultPort = LDAP_PORT;
constexpr long kDefaultNetworkTimeout = 30;

long networkTimeoutSeconds() {
    const char* env = std::getenv("RYX_LDAP_NETWORK_TIMEOUT");
    if (env == nullptr || *env == '\0')
        return kDefaultNetworkTimeout;
    char* end = nullptr;
    long value = std::strtol(env, &end, 10);
    if (end == env || *end != '\0' || value <= 0)
        return kDefaultNetworkTimeout;
    return value;
}

void closeLdap(LDAP* ld) {
    if (ld != nullptr)
        ldap_unbind_ext_s(ld, nullptr, nullptr);
}

// One handle of this library: the primary connection, its last result code and
// the connections opened for URLs that name a server, one per server.
struct Connection {
    LDAP* ld = nullptr;
    int lastError = LDAP_SUCCESS;
    std::map<std::string, LDAP*> secondaries;

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        for (auto& s : secondaries)
            closeLdap(s.second);
        closeLdap(ld);
    }

    int record(int rc) {
        lastError = toApiCode(rc);
        return lastError;
    }
};

Connection* conn(LDAP* handle) {
    return reinterpret_cast<Connection*>(handle);
}

// The OpenLDAP handle behind a handle of ours, null for a null handle.
LDAP* raw(LDAP* handle) {
    return handle == nullptr ? nullptr : conn(handle)->ld;
}

void applyNetworkTimeout(LDAP* ld) {
    timeval tv{networkTimeoutSeconds(), 0};
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &tv);
}

// "host", "host:port" or "[v6]:port" as an LDAP URL; a token that already is a
// URL stays as it is.
std::string tokenToUrl(const std::string& token, int port) {
    if (token.find("://") != std::string::npos)
        return token;
    bool hasPort = false;
    if (!token.empty() && token[0] == '[') {
        size_t close = token.find(']');
        hasPort = close != std::string::npos && close + 1 < token.size() && token[close + 1] == ':';
    } else {
        size_t colon = token.find(':');
        hasPort = colon != std::string::npos && token.find(':', colon + 1) == std::string::npos;
        if (colon != std::string::npos && !hasPort) {
            // A bare IPv6 address.
            return "ldap://[" + token + "]:" + std::to_string(port);
        }
    }
    return "ldap://" + token + (hasPort ? "" : ":" + std::to_string(port));
}

std::string hostsToUrls(const std::string& hosts, int port) {
    std::string urls;
    size_t i = 0;
    while (i < hosts.size()) {
        while (i < hosts.size() && std::isspace(static_cast<unsigned char>(hosts[i])))
            ++i;
        size_t start = i;
        while (i < hosts.size() && !std::isspace(static_cast<unsigned char>(hosts[i])))
            ++i;
        if (i > start) {
            if (!urls.empty())
                urls += ' ';
            urls += tokenToUrl(hosts.substr(start, i - start), port);
        }
    }
    return urls;
}

// The host list of ldap.conf, else localhost.
std::string defaultHosts() {
    char* configured = nullptr;
    std::string hosts = "localhost";
    if (ldap_get_option(nullptr, LDAP_OPT_HOST_NAME, &configured) == LDAP_OPT_SUCCESS &&
        configured != nullptr) {
        if (*configured != '\0')
            hosts = configured;
        ldap_memfree(configured);
    }
    // The library reports its default hosts with its own port attached
    // ("localhost:389"); the port asked for by the caller applies instead.
    std::string bare;
    size_t i = 0;
    while (i < hosts.size()) {
        size_t start = hosts.find_first_not_of(" \t", i);
        if (start == std::string::npos)
            break;
        size_t end = hosts.find_first_of(" \t", start);
        if (end == std::string::npos)
            end = hosts.size();
        std::string token = hosts.substr(start, end - start);
        const size_t colon = token.rfind(':');
        const bool bracketed = !token.empty() && token[0] == '[';
        const bool onePort = colon != std::string::npos && token.find(':') == colon;
        if (colon != std::string::npos && (onePort || (bracketed && token[colon - 1] == ']')) &&
            token.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
            token.erase(colon);
        }
        if (!bare.empty())
            bare += ' ';
        bare += token;
        i = end;
    }
    return bare.empty() ? std::string("localhost") : bare;
}

int simpleBind(LDAP* ld, const char* dn, const char* password) {
    berval cred{0, nullptr};
    if (password != nullptr) {
        cred.bv_len = std::strlen(password);
        cred.bv_val = const_cast<char*>(password);
    }
    return ldap_sasl_bind_s(ld, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
}

int search(LDAP* ld, const char* base, int scope, const char* filter, char** attrs, int attrsonly,
           timeval* timeout, LDAPMessage** result) {
    return ldap_search_ext_s(ld, base, scope, filter, attrs, attrsonly, nullptr, nullptr, timeout,
                             LDAP_NO_LIMIT, result);
}

struct UrlDescFree {
    LDAPURLDesc* desc;
    ~UrlDescFree() {
        if (desc != nullptr)
            ldap_free_urldesc(desc);
    }
};

// The connection for a server named in a URL: reused when already open,
// otherwise opened with the primary's protocol version and bound anonymously.
int secondaryFor(Connection* c, const LDAPURLDesc* lud, LDAP** out) {
    const bool secure = lud->lud_scheme != nullptr && std::strcmp(lud->lud_scheme, "ldaps") == 0;
    const int port = lud->lud_port != 0 ? lud->lud_port : (secure ? LDAPS_PORT : kDefaultPort);
    std::string host = lud->lud_host;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    const std::string key =
        std::string(secure ? "ldaps" : "ldap") + "://" + host + ":" + std::to_string(port);
    auto found = c->secondaries.find(key);
    if (found != c->secondaries.end()) {
        *out = found->second;
        return LDAP_SUCCESS;
    }
    LDAP* ld = nullptr;
    int rc = ldap_initialize(&ld, key.c_str());
    if (rc != LDAP_SUCCESS || ld == nullptr)
        return rc != LDAP_SUCCESS ? rc : LDAP_NO_MEMORY;
    int version = LDAP_VERSION3;
    ldap_get_option(c->ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    // Same network timeout as the primary connection.
    timeval* primaryTimeout = nullptr;
    if (ldap_get_option(c->ld, LDAP_OPT_NETWORK_TIMEOUT, &primaryTimeout) == LDAP_OPT_SUCCESS &&
        primaryTimeout != nullptr) {
        ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, primaryTimeout);
        ldap_memfree(primaryTimeout);
    } else {
        applyNetworkTimeout(ld);
    }
    rc = simpleBind(ld, nullptr, nullptr);
    if (rc != LDAP_SUCCESS) {
        closeLdap(ld);
        return rc;
    }
    try {
        c->secondaries.emplace(key, ld);
    } catch (...) {
        closeLdap(ld);
        return LDAP_NO_MEMORY;
    }
    *out = ld;
    return LDAP_SUCCESS;
}

void dropSecondary(Connection* c, LDAP* ld) {
    for (auto it = c->secondaries.begin(); it != c->secondaries.end(); ++it) {
        if (it->second == ld) {
            closeLdap(ld);
            c->secondaries.erase(it);
            return;
        }
    }
}

}  // namespace

extern "C" {

LDAP* ryx_ldap_init(const char* host, int port) {
    try {
        if (port <= 0)
            port = kDefaultPort;
        std::string urls = host != nullptr ? hostsToUrls(host, port) : std::string();
        if (urls.empty())
            urls = hostsToUrls(defaultHosts(), port);
        if (urls.empty())
            return nullptr;
        LDAP* ld = nullptr;
        if (ldap_initialize(&ld, urls.c_str()) != LDAP_SUCCESS || ld == nullptr)
            return nullptr;
        applyNetworkTimeout(ld);
        int version = LDAP_VERSION3;
        ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        Connection* c = new (std::nothrow) Connection;
        if (c == nullptr) {
            closeLdap(ld);
            return nullptr;
        }
        c->ld = ld;
        return reinterpret_cast<LDAP*>(c);
    } catch (...) {
        return nullptr;
    }
}

int ryx_ldap_msgfree(LDAPMessage* msg) {
    return msg == nullptr ? 0 : ldap_msgfree(msg);
}

char* ryx_ldap_err2string(int rc) {
    return ldap_err2string(toOpenLdapCode(rc));
}

int ryx_ldap_set_option(LDAP* ld, int option, const void* value) {
    return toApiCode(ldap_set_option(raw(ld), option, value));
}

int ryx_ldap_simple_bind_s(LDAP* ld, const char* dn, const char* password) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(simpleBind(raw(ld), dn, password));
}

int ryx_ldap_unbind(LDAP* ld) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    delete conn(ld);
    return LDAP_SUCCESS;
}

int ryx_ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                       int attrsonly, struct timeval* timeout, LDAPMessage** result) {
    if (result != nullptr)
        *result = nullptr;
    if (ld == nullptr || result == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(
        search(raw(ld), base, scope, filter, attrs, attrsonly, timeout, result));
}

int ryx_ldap_url_search_st(LDAP* ld, const char* url, int attrsonly, struct timeval* timeout,
                           LDAPMessage** result) {
    if (result != nullptr)
        *result = nullptr;
    if (ld == nullptr || result == nullptr || url == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    Connection* c = conn(ld);
    UrlDescFree lud{nullptr};
    if (ldap_url_parse(url, &lud.desc) != LDAP_URL_SUCCESS || lud.desc == nullptr)
        return c->record(LDAP_PARAM_ERROR);
    const LDAPURLDesc* d = lud.desc;
    LDAP* target = c->ld;
    const bool named = d->lud_host != nullptr && *d->lud_host != '\0';
    if (named) {
        int rc = secondaryFor(c, d, &target);
        if (rc != LDAP_SUCCESS)
            return c->record(rc);
    }
    const int scope = d->lud_scope == LDAP_SCOPE_DEFAULT ? LDAP_SCOPE_BASE : d->lud_scope;
    const char* filter =
        d->lud_filter != nullptr && *d->lud_filter != '\0' ? d->lud_filter : "(objectClass=*)";
    const char* base = d->lud_dn != nullptr ? d->lud_dn : "";
    int rc = search(target, base, scope, filter, d->lud_attrs, attrsonly, timeout, result);
    if (named && rc == LDAP_SERVER_DOWN)
        dropSecondary(c, target);
    return c->record(rc);
}

int ryx_ldap_url_parse(const char* url, LDAPURLDesc** desc) {
    if (desc != nullptr)
        *desc = nullptr;
    if (url == nullptr || desc == nullptr)
        return LDAP_URL_ERR_PARAM;
    return ldap_url_parse(url, desc);
}

void ryx_ldap_free_urldesc(LDAPURLDesc* desc) {
    if (desc != nullptr)
        ldap_free_urldesc(desc);
}

int ryx_ldap_count_entries(LDAP* ld, LDAPMessage* result) {
    if (ld == nullptr)
        return -1;
    return ldap_count_entries(raw(ld), result);
}

int ryx_ldap_add_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(ldap_add_ext_s(raw(ld), dn, mods, nullptr, nullptr));
}

int ryx_ldap_delete_s(LDAP* ld, const char* dn) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(ldap_delete_ext_s(raw(ld), dn, nullptr, nullptr));
}

int ryx_ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(ldap_modify_ext_s(raw(ld), dn, mods, nullptr, nullptr));
}

int ryx_ldap_modrdn_s(LDAP* ld, const char* dn, const char* newrdn, int deleteoldrdn) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->record(
        ldap_rename_s(raw(ld), dn, newrdn, nullptr, deleteoldrdn ? 1 : 0, nullptr, nullptr));
}

LDAPMessage* ryx_ldap_first_entry(LDAP* ld, LDAPMessage* result) {
    if (ld == nullptr || result == nullptr)
        return nullptr;
    return ldap_first_entry(raw(ld), result);
}

LDAPMessage* ryx_ldap_next_entry(LDAP* ld, LDAPMessage* entry) {
    if (ld == nullptr || entry == nullptr)
        return nullptr;
    return ldap_next_entry(raw(ld), entry);
}

char* ryx_ldap_get_dn(LDAP* ld, LDAPMessage* entry) {
    if (ld == nullptr || entry == nullptr)
        return nullptr;
    return ldap_get_dn(raw(ld), entry);
}

void ryx_ldap_memfree(void* p) {
    if (p != nullptr)
        ldap_memfree(p);
}

char* ryx_ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) {
    if (ber != nullptr)
        *ber = nullptr;
    if (ld == nullptr || entry == nullptr || ber == nullptr)
        return nullptr;
    return ldap_first_attribute(raw(ld), entry, ber);
}

char* ryx_ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) {
    if (ld == nullptr || entry == nullptr || ber == nullptr)
        return nullptr;
    return ldap_next_attribute(raw(ld), entry, ber);
}

struct berval** ryx_ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) {
    if (ld == nullptr || entry == nullptr || attr == nullptr)
        return nullptr;
    return ldap_get_values_len(raw(ld), entry, attr);
}

void ryx_ldap_value_free_len(struct berval** values) {
    if (values != nullptr)
        ldap_value_free_len(values);
}

int ryx_ldap_get_errno(LDAP* ld) {
    if (ld == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return conn(ld)->lastError;
}

void ryx_ldap_ber_free(BerElement* ber) {
    if (ber != nullptr)
        ber_free(ber, 0);
}

}  // extern "C"
