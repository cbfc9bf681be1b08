// OpenLDAP's configuration files and variables, read as its library reads them
// at start-up, to answer where an option's value comes from.
#ifndef RYXLDAP_LDAPCONF_H
#define RYXLDAP_LDAPCONF_H

#include <functional>
#include <string>

namespace ryxldap {

struct ConfSources {
    std::string systemFile;  // the system's ldap.conf
    std::function<const char*(const char*)> getenv;
    bool setUserId = false;  // only the system file counts then
};

struct ConfValue {
    std::string value;
    std::string origin;  // "FILE (KEYWORD)" or the variable's name
};

// The value in effect for option (case ignored); false when none is set. "URI"
// is the default server list: the last of URI and HOST (with the PORT in effect
// when it was read) as URLs.
bool confOption(const std::string& option, const ConfSources& sources, ConfValue* out);

}  // namespace ryxldap

#endif
