// The toolkit LDAP library's own settings: from the environment, read by
// ryx_ldap_init (see ryxldap.h for their meaning), and from the host program
// through ryx_ldap_configure (ryxldapconfig.h), which wins.
#ifndef RYXLDAP_SETTINGS_H
#define RYXLDAP_SETTINGS_H

#include <functional>
#include <string>
#include <vector>

#include "ryxldapconfig.h"

namespace ryxldap {

enum class StartTls { Off, Try, Require };

struct Settings {
    long networkTimeout = 30;  // seconds for a connect; 0: no bound of ours
    long idleTimeout = 60;     // seconds without data from the server; 0: no bound
    long deadline = 600;       // seconds an operation may take in all; 0: no bound
    StartTls startTls = StartTls::Off;
    bool foldBinary = false;              // report "name;binary" as "name" when asked for "name"
    ryx_ldap_notice_fn notice = nullptr;  // told when StartTLS "try" goes on in clear
    void* noticeArg = nullptr;
};

// Longest bound, in seconds (a day): larger values are clamped to it.
constexpr long kMaxSeconds = RYX_LDAP_MAX_SECONDS;

// The variables, one per setting, each with the ryx_ldap_configure bit that
// overrides it.
struct Variable {
    const char* name;
    unsigned int overriddenBy;
};
constexpr Variable kNetworkTimeoutVariable = {"RYX_LDAP_NETWORK_TIMEOUT",
                                              RYX_LDAP_SET_NETWORK_TIMEOUT};
constexpr Variable kTimeoutVariable = {"RYX_LDAP_TIMEOUT", RYX_LDAP_SET_TIMEOUT};
constexpr Variable kDeadlineVariable = {"RYX_LDAP_DEADLINE", RYX_LDAP_SET_DEADLINE};
constexpr Variable kStartTlsVariable = {"RYX_LDAP_STARTTLS", RYX_LDAP_SET_STARTTLS};
constexpr Variable kFoldBinaryVariable = {RYX_LDAP_FOLD_BINARY_VARIABLE, RYX_LDAP_SET_FOLD_BINARY};

// The settings that getenv gives. A number out of range is clamped, a value that
// does not parse is refused (the default stays; an unknown RYX_LDAP_STARTTLS
// value means "require", the safe side); each such case adds one sentence to
// *complaints.
Settings readSettings(const std::function<const char*(const char*)>& getenv,
                      std::vector<std::string>* complaints);

// s with the fields of config that its bits name (the config is checked).
Settings overridden(Settings s, const ryx_ldap_config& config);

// Whether a configuration can be taken; *why says what is wrong otherwise.
bool acceptable(const ryx_ldap_config& config, std::string* why);

}  // namespace ryxldap

#endif
