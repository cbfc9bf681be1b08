// Small owners and readers for the handles of the toolkit LDAP library, for its tests.
#ifndef LDAPTESTUTIL_H
#define LDAPTESTUTIL_H

#include <memory>
#include <string>
#include <vector>

#include "ryxldap.h"

struct RyxUnbind {
    void operator()(LDAP* ld) const { ryx_ldap_unbind(ld); }
};
using RyxLdap = std::unique_ptr<LDAP, RyxUnbind>;

struct RyxMsgFree {
    void operator()(LDAPMessage* m) const { ryx_ldap_msgfree(m); }
};
using RyxMessage = std::unique_ptr<LDAPMessage, RyxMsgFree>;

// The values of one attribute of an entry, as byte strings.
inline std::vector<std::string> valuesOf(LDAP* ld, LDAPMessage* entry, const char* attr) {
    std::vector<std::string> out;
    berval** vals = ryx_ldap_get_values_len(ld, entry, attr);
    for (berval** v = vals; v != nullptr && *v != nullptr; ++v)
        out.emplace_back((*v)->bv_val, (*v)->bv_len);
    ryx_ldap_value_free_len(vals);
    return out;
}

// The attribute names of an entry, in the server's order.
inline std::vector<std::string> attributesOf(LDAP* ld, LDAPMessage* entry) {
    std::vector<std::string> out;
    BerElement* ber = nullptr;
    for (char* a = ryx_ldap_first_attribute(ld, entry, &ber); a != nullptr;
         a = ryx_ldap_next_attribute(ld, entry, ber)) {
        out.emplace_back(a);
        ryx_ldap_memfree(a);
    }
    ryx_ldap_ber_free(ber, 0);
    return out;
}

#endif
