// What the host program set through ryx_ldap_configure, for the connections.
#ifndef RYXLDAP_CONFIGURE_H
#define RYXLDAP_CONFIGURE_H

#include <string>

#include "settings.h"

namespace ryxldap {

// fromEnvironment with what the program configured laid over it.
Settings configured(Settings fromEnvironment);

// Leaves a reason for ryx_ldap_err2string (defined with the connections).
void noteFailure(int apiCode, const std::string& why);

}  // namespace ryxldap

#endif
