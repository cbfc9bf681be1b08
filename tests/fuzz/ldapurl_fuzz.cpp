// libFuzzer target for the toolkit LDAP library's host lists and URLs. The
// first byte picks the unit. A host list either is refused with a reason or
// gives URLs that OpenLDAP accepts and that read back as the same list; a URL
// either is refused with a reason or parses without a critical extension and
// without a bad '%' escape or one that decodes to a NUL.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzzcheck.h"
#include "hostlist.h"
#include "ldapurl.h"

namespace {

void hostList(const std::string& text) {
    std::string urls, why, again;
    (void)ryxldap::withoutPorts(text);
    if (!ryxldap::hostListToUrls(text, 389, &urls, &why)) {
        require(!why.empty(), "refused without a reason");
        return;
    }
    if (!ryxldap::hostListToUrls(urls, 636, &again, &why) || again != urls)
        fail("reread: " + urls);
    if (urls.empty())
        return;
    LDAP* ld = nullptr;
    require(ldap_initialize(&ld, urls.c_str()) == LDAP_SUCCESS && ld != nullptr, "ldap_initialize");
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    for (size_t at = 0, end = 0; at < urls.size(); at = end + 1) {
        end = std::min(urls.find(' ', at), urls.size());
        LDAPURLDesc* d = nullptr;
        if (ldap_url_parse(urls.substr(at, end - at).c_str(), &d) != LDAP_URL_SUCCESS ||
            d->lud_host == nullptr || *d->lud_host == '\0')
            fail("ldap_url_parse: " + urls);
        ldap_free_urldesc(d);
    }
}

void url(const std::string& text) {
    LDAPURLDesc* desc = nullptr;
    std::string why;
    if (ryxldap::parseUrl(text.c_str(), &desc, &why) != LDAP_URL_SUCCESS) {
        require(desc == nullptr && !why.empty(), "refused without a reason");
        return;
    }
    require(desc != nullptr && desc->lud_crit_exts == 0, "critical extension taken");
    for (const char* p = std::strchr(text.c_str(), '%'); p != nullptr; p = std::strchr(p + 1, '%'))
        require(std::isxdigit(static_cast<unsigned char>(p[1])) &&
                    std::isxdigit(static_cast<unsigned char>(p[2])),
                "bad escape taken");
    require(text.find("%00") == std::string::npos, "NUL escape taken");
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
