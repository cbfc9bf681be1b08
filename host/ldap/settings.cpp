#include "settings.h"

#include <strings.h>

namespace ryxldap {

namespace {

bool blank(const char* text) {
    return text == nullptr || *text == '\0';
}

std::string quoted(const char* name, const char* value) {
    return std::string(name) + "=\"" + value + "\"";
}

// Seconds from 0 to kMaxSeconds, decimal digits only.
long seconds(const char* name, const char* value, long fallback,
             std::vector<std::string>* complaints) {
    if (blank(value))
        return fallback;
    long n = 0;
    bool clamped = false;
    for (const char* p = value; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            complaints->push_back(quoted(name, value) + " is not a number of seconds; using " +
                                  std::to_string(fallback));
            return fallback;
        }
        n = n * 10 + (*p - '0');
        if (n > kMaxSeconds) {
            n = kMaxSeconds;
            clamped = true;
        }
    }
    if (clamped)
        complaints->push_back(quoted(name, value) + " is above the longest bound; using " +
                              std::to_string(kMaxSeconds));
    return n;
}

bool oneOf(const char* value, std::initializer_list<const char*> words) {
    for (const char* w : words) {
        if (strcasecmp(value, w) == 0)
            return true;
    }
    return false;
}

}  // namespace

Settings readSettings(const std::function<const char*(const char*)>& getenv,
                      std::vector<std::string>* complaints) {
    Settings s;
    s.networkTimeout = seconds("RYX_LDAP_NETWORK_TIMEOUT", getenv("RYX_LDAP_NETWORK_TIMEOUT"),
                               s.networkTimeout, complaints);
    s.idleTimeout =
        seconds("RYX_LDAP_TIMEOUT", getenv("RYX_LDAP_TIMEOUT"), s.idleTimeout, complaints);
    s.deadline = seconds("RYX_LDAP_DEADLINE", getenv("RYX_LDAP_DEADLINE"), s.deadline, complaints);

    const char* tls = getenv("RYX_LDAP_STARTTLS");
    if (blank(tls) || oneOf(tls, {"off", "no", "0"})) {
        s.startTls = StartTls::Off;
    } else if (oneOf(tls, {"try"})) {
        s.startTls = StartTls::Try;
    } else {
        s.startTls = StartTls::Require;
        if (!oneOf(tls, {"require"}))
            complaints->push_back(quoted("RYX_LDAP_STARTTLS", tls) +
                                  " is not off, try or require; using require");
    }

    const char* fold = getenv("RYX_LDAP_FOLD_BINARY");
    if (blank(fold) || oneOf(fold, {"0", "off", "no"})) {
        s.foldBinary = false;
    } else if (oneOf(fold, {"1", "on", "yes"})) {
        s.foldBinary = true;
    } else {
        complaints->push_back(quoted("RYX_LDAP_FOLD_BINARY", fold) + " is not 0 or 1; using 0");
    }
    return s;
}

}  // namespace ryxldap
