#include "ldapurl.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ryxldap {

namespace {

// The first '%' not followed by two hex digits, or null.
const char* badEscape(const char* url) {
    for (const char* p = std::strchr(url, '%'); p != nullptr; p = std::strchr(p + 1, '%')) {
        if (!std::isxdigit(static_cast<unsigned char>(p[1])) ||
            !std::isxdigit(static_cast<unsigned char>(p[2])))
            return p;
    }
    return nullptr;
}

const char* parseError(int rc) {
    switch (rc) {
        case LDAP_URL_ERR_MEM:
            return "out of memory";
        case LDAP_URL_ERR_BADSCHEME:
            return "it does not begin with ldap://, ldaps:// or ldapi://";
        case LDAP_URL_ERR_BADENCLOSURE:
            return "its closing '>' is missing";
        case LDAP_URL_ERR_BADHOST:
            return "its host or port is bad";
        case LDAP_URL_ERR_BADATTRS:
            return "its attribute list is bad";
        case LDAP_URL_ERR_BADSCOPE:
            return "its scope is not base, one, sub or children";
        case LDAP_URL_ERR_BADFILTER:
            return "its filter is bad";
        case LDAP_URL_ERR_BADEXTS:
            return "its extensions are bad";
        default:
            return "it does not parse";
    }
}

}  // namespace

int parseUrl(const char* url, LDAPURLDesc** desc, std::string* why) {
    *desc = nullptr;
    if (url == nullptr) {
        *why = "no URL";
        return LDAP_URL_ERR_PARAM;
    }
    if (const char* bad = badEscape(url)) {
        *why = "bad URL: \"" + std::string(bad, ::strnlen(bad, 3)) +
               "\" is not '%' and two hex digits";
        return LDAP_URL_ERR_BADURL;
    }
    // "%00" is the only escape that decodes to a NUL, where OpenLDAP would cut
    // the host, DN, attribute, filter or extension short.
    if (std::strstr(url, "%00") != nullptr) {
        *why = "bad URL: \"%00\" would put a NUL character into it";
        return LDAP_URL_ERR_BADURL;
    }
    LDAPURLDesc* parsed = nullptr;
    const int rc = ldap_url_parse(url, &parsed);
    if (rc != LDAP_URL_SUCCESS || parsed == nullptr) {
        if (parsed != nullptr)
            ldap_free_urldesc(parsed);
        *why = std::string("bad URL: ") + parseError(rc);
        return rc != LDAP_URL_SUCCESS ? rc : LDAP_URL_ERR_MEM;
    }
    if (parsed->lud_crit_exts > 0) {
        std::string name = "?";
        for (char** e = parsed->lud_exts; e != nullptr && *e != nullptr; ++e) {
            if (**e == '!') {
                name.assign(*e, std::min<size_t>(std::strcspn(*e, "="), 64));
                break;
            }
        }
        ldap_free_urldesc(parsed);
        *why = "bad URL: critical extension \"" + name + "\" is not supported";
        return LDAP_URL_ERR_BADEXTS;
    }
    *desc = parsed;
    return LDAP_URL_SUCCESS;
}

}  // namespace ryxldap
