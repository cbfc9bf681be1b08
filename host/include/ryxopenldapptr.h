// Release functions of the OpenLDAP client library's types, for code that uses
// that library directly (the lab, the benchmarks, the tests, the toolkit LDAP
// library's inside). Strings OpenLDAP allocated (attribute names, diagnostic
// messages) are owned as ryx::UniquePtr<char, ryx::LdapMemfree>: a plain
// UniquePtr<char> is OpenSSL's.
//
// The toolkit LDAP library's own handles are released through its functions:
// see ryxldapptr.h beside that library.
#ifndef RYXOPENLDAPPTR_H
#define RYXOPENLDAPPTR_H

#include <ldap.h>

#include "ryxuniqueptr.h"

namespace ryx {
inline void unbindOpenLdap(LDAP* ld) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
}
inline void releaseBerElement(BerElement* ber) {
    ber_free(ber, 0);
}
}  // namespace ryx

RYX_MAKE_DELETER(LDAP, ryx::unbindOpenLdap)
RYX_MAKE_DELETER(LDAPMessage, ldap_msgfree)
RYX_MAKE_DELETER(LDAPURLDesc, ldap_free_urldesc)
RYX_MAKE_DELETER(BerElement, ryx::releaseBerElement)
RYX_MAKE_DELETER(berval*, ldap_value_free_len)
RYX_MAKE_DELETER(LDAPControl, ldap_control_free)
RYX_MAKE_DELETER(LDAPControl*, ldap_controls_free)
RYX_MAKE_NAMED_DELETER(LdapMemfree, char, ldap_memfree)

#endif
