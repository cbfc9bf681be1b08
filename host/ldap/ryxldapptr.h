// Owners of the toolkit LDAP library's handles: ryx::UniquePtr with the
// library's release functions as named deleters (OpenLDAP's own are the
// defaults for these C types, in ryxopenldapptr.h).
//
//   ryx::UniquePtr<LDAP, ryx::RyxUnbind> ld(ryx_ldap_init(host, port));
#ifndef RYXLDAPPTR_H
#define RYXLDAPPTR_H

#include "ryxldap.h"
#include "ryxuniqueptr.h"

namespace ryx {
inline void releaseRyxBerElement(BerElement* ber) {
    ryx_ldap_ber_free(ber, 0);
}
}  // namespace ryx

RYX_MAKE_NAMED_DELETER(RyxUnbind, LDAP, ryx_ldap_unbind)
RYX_MAKE_NAMED_DELETER(RyxMsgfree, LDAPMessage, ryx_ldap_msgfree)
RYX_MAKE_NAMED_DELETER(RyxBerFree, BerElement, ryx::releaseRyxBerElement)
RYX_MAKE_NAMED_DELETER(RyxValueFree, berval*, ryx_ldap_value_free_len)
RYX_MAKE_NAMED_DELETER(RyxMemfree, char, ryx_ldap_memfree)

#endif
