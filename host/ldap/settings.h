// The toolkit LDAP library's own settings, read from the environment by
// ryx_ldap_init (see ryxldap.h for their meaning).
#ifndef RYXLDAP_SETTINGS_H
#define RYXLDAP_SETTINGS_H

#include <functional>
#include <string>
#include <vector>

namespace ryxldap {

enum class StartTls { Off, Try, Require };

struct Settings {
    long networkTimeout = 30;  // seconds for a connect; 0: no bound of ours
    long idleTimeout = 60;     // seconds without data from the server; 0: no bound
    long deadline = 600;       // seconds an operation may take in all; 0: no bound
    StartTls startTls = StartTls::Off;
    bool foldBinary = false;  // report "name;binary" as "name" when asked for "name"
};

// Longest bound, in seconds (a day): larger values are clamped to it.
constexpr long kMaxSeconds = 86400;

// The settings that getenv gives. A number out of range is clamped, a value that
// does not parse is refused (the default stays; an unknown RYX_LDAP_STARTTLS
// value means "require", the safe side); each such case adds one sentence to
// *complaints.
Settings readSettings(const std::function<const char*(const char*)>& getenv,
                      std::vector<std::string>* complaints);

}  // namespace ryxldap

#endif
