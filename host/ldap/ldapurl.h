// LDAP URLs as the toolkit LDAP library accepts them: OpenLDAP's parser, plus
// the checks it leaves out.
#ifndef RYXLDAP_LDAPURL_H
#define RYXLDAP_LDAPURL_H

#include <ldap.h>

#include <string>

namespace ryxldap {

// Parses url into *desc (released with ldap_free_urldesc). Beyond OpenLDAP's
// own checks, refuses a '%' that is not followed by two hex digits
// (LDAP_URL_ERR_BADURL; OpenLDAP decodes "%zz" into a NUL that cuts the DN
// short), an escape that decodes to a NUL ("%00", LDAP_URL_ERR_BADURL: it would
// cut its part short too) and a critical extension ("!name"), since none is supported
// (LDAP_URL_ERR_BADEXTS). Returns LDAP_URL_SUCCESS, or an LDAP_URL_ERR_* code
// with *desc null and a reason in *why.
int parseUrl(const char* url, LDAPURLDesc** desc, std::string* why);

}  // namespace ryxldap

#endif
