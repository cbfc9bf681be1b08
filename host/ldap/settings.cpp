#include "settings.h"

#include <strings.h>

#include <utility>

namespace ryxldap {

static_assert(static_cast<int>(StartTls::Try) == RYX_LDAP_STARTTLS_TRY &&
                  static_cast<int>(StartTls::Require) == RYX_LDAP_STARTTLS_REQUIRE,
              "the StartTLS modes are numbered as in ryxldapconfig.h");

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
    for (auto [v, field] : {std::make_pair(kNetworkTimeoutVariable, &Settings::networkTimeout),
                            std::make_pair(kTimeoutVariable, &Settings::idleTimeout),
                            std::make_pair(kDeadlineVariable, &Settings::deadline)})
        s.*field = seconds(v.name, getenv(v.name), s.*field, complaints);

    const char* tls = getenv(kStartTlsVariable.name);
    if (blank(tls) || oneOf(tls, {"off", "no", "0"})) {
        s.startTls = StartTls::Off;
    } else if (oneOf(tls, {"try"})) {
        s.startTls = StartTls::Try;
    } else {
        s.startTls = StartTls::Require;
        if (!oneOf(tls, {"require"}))
            complaints->push_back(quoted(kStartTlsVariable.name, tls) +
                                  " is not off, try or require; using require");
    }

    const char* fold = getenv(kFoldBinaryVariable.name);
    if (blank(fold) || oneOf(fold, {"0", "off", "no"})) {
        s.foldBinary = false;
    } else if (oneOf(fold, {"1", "on", "yes"})) {
        s.foldBinary = true;
    } else {
        complaints->push_back(quoted(kFoldBinaryVariable.name, fold) + " is not 0 or 1; using 0");
    }
    return s;
}

bool acceptable(const ryx_ldap_config& c, std::string* why) {
    constexpr unsigned int kAll = RYX_LDAP_SET_STARTTLS | RYX_LDAP_SET_FOLD_BINARY |
                                  RYX_LDAP_SET_TIMEOUT | RYX_LDAP_SET_NETWORK_TIMEOUT |
                                  RYX_LDAP_SET_DEADLINE | RYX_LDAP_SET_CACERT | RYX_LDAP_SET_NOTICE;
    const auto inRange = [](long n) { return n >= 0 && n <= kMaxSeconds; };
    const auto asked = [&c](unsigned int bit) { return (c.set & bit) != 0; };
    if (c.size < sizeof(ryx_ldap_config))
        *why = "settings of an unknown size";
    else if ((c.set & ~kAll) != 0)
        *why = "unknown settings asked for";
    else if (asked(RYX_LDAP_SET_STARTTLS) &&
             (c.starttls < RYX_LDAP_STARTTLS_OFF || c.starttls > RYX_LDAP_STARTTLS_REQUIRE))
        *why = "StartTLS is not off, try or require";
    else if (asked(RYX_LDAP_SET_FOLD_BINARY) && c.fold_binary != 0 && c.fold_binary != 1)
        *why = "folding is not 0 or 1";
    else if ((asked(RYX_LDAP_SET_TIMEOUT) && !inRange(c.timeout)) ||
             (asked(RYX_LDAP_SET_NETWORK_TIMEOUT) && !inRange(c.network_timeout)) ||
             (asked(RYX_LDAP_SET_DEADLINE) && !inRange(c.deadline)))
        *why = "a bound is not 0 to " + std::to_string(kMaxSeconds) + " seconds";
    else if (asked(RYX_LDAP_SET_CACERT) && (c.cacert == nullptr || *c.cacert == '\0'))
        *why = "no CA file named";
    return why->empty();
}

Settings overridden(Settings s, const ryx_ldap_config& c) {
    if (c.set & RYX_LDAP_SET_STARTTLS)
        s.startTls = static_cast<StartTls>(c.starttls);
    if (c.set & RYX_LDAP_SET_FOLD_BINARY)
        s.foldBinary = c.fold_binary == 1;
    if (c.set & RYX_LDAP_SET_TIMEOUT)
        s.idleTimeout = c.timeout;
    if (c.set & RYX_LDAP_SET_NETWORK_TIMEOUT)
        s.networkTimeout = c.network_timeout;
    if (c.set & RYX_LDAP_SET_DEADLINE)
        s.deadline = c.deadline;
    if (c.set & RYX_LDAP_SET_NOTICE) {
        s.notice = c.notice;
        s.noticeArg = c.notice_arg;
    }
    return s;
}

}  // namespace ryxldap
