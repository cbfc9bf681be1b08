// libFuzzer target for the toolkit LDAP library's host lists and URLs. The
// first byte picks the unit. A host list either is refused with a reason or
// gives URLs that OpenLDAP accepts and that read back as the same list; a URL
// either is refused with a reason or parses without a critical extension and
// without a bad '%' escape.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostlist.h"
#include "ldapurl.h"

namespace {

void hostList(const std::string& text) {
    std::string urls, why;
    (void)ryxldap::withoutPorts(text);
    if (!ryxldap::hostListToUrls(text, 389, &urls, &why)) {
        if (why.empty())
            std::abort();
        return;
    }
    std::string again;
    if (!ryxldap::hostListToUrls(urls, 636, &again, &why) || again != urls)
        std::abort();
    if (urls.empty())
        return;
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, urls.c_str()) != LDAP_SUCCESS || ld == nullptr)
        std::abort();
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    for (size_t at = 0; at < urls.size();) {
        size_t end = urls.find(' ', at);
        if (end == std::string::npos)
            end = urls.size();
        LDAPURLDesc* d = nullptr;
        if (ldap_url_parse(urls.substr(at, end - at).c_str(), &d) != LDAP_URL_SUCCESS ||
            d->lud_host == nullptr || *d->lud_host == '\0')
            std::abort();
        ldap_free_urldesc(d);
        at = end + 1;
    }
}

void url(const std::string& text) {
    LDAPURLDesc* desc = nullptr;
    std::string why;
    const int rc = ryxldap::parseUrl(text.c_str(), &desc, &why);
    if (rc != LDAP_URL_SUCCESS) {
        if (desc != nullptr || why.empty())
            std::abort();
        return;
    }
    if (desc == nullptr || desc->lud_crit_exts != 0)
        std::abort();
    for (const char* p = std::strchr(text.c_str(), '%'); p != nullptr;
         p = std::strchr(p + 1, '%')) {
        if (!std::isxdigit(static_cast<unsigned char>(p[1])) ||
            !std::isxdigit(static_cast<unsigned char>(p[2])))
            std::abort();
    }
    ldap_free_urldesc(desc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1)
        url(text.c_str());
    else
        hostList(text);
    return 0;
}
