// The toolkit LDAP library's inner units: host lists, URL checks and settings
// (URLs are also seen end to end in ldaplib_bounds_test and fuzzed in
// ldapurl_fuzz).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "hostlist.h"
#include "ldapurl.h"
#include "settings.h"

namespace {

TEST(HostList, Table) {
    struct Row {
        const char* hosts;
        int port;
        const char* urls;  // null: refused, with why containing `why`
        const char* why;
    };
    const Row rows[] = {
        {" \t\n", 389, "", nullptr},
        {"a  b:2\tc.d-e_f", 10, "ldap://a:10 ldap://b:2 ldap://c.d-e_f:10", nullptr},
        {"[::1] [fe80::1]:636 ::1", 389, "ldap://[::1]:389 ldap://[fe80::1]:636 ldap://[::1]:389",
         nullptr},
        {"ldaps://h LDAP://h:7/ h:65535", 389, "ldaps://h ldap://h:7 ldap://h:65535", nullptr},
        {"ok h:0", 389, nullptr, "port of \"h:0\""},
        {"h:65536", 389, nullptr, "port of"},
        {"h:", 389, nullptr, "port of"},
        {"http://h", 389, nullptr, "unknown scheme"},
        {"ldap://", 389, nullptr, "no host"},
        {"ldap://h/dc=x", 389, nullptr, "not a host"},
        {"[::1]x", 389, nullptr, "not a host"},
        {"h%20", 389, nullptr, "not a host"},
    };
    for (const Row& r : rows) {
        std::string urls = "unchanged", why;
        const bool ok = ryxldap::hostListToUrls(r.hosts, r.port, &urls, &why);
        if (r.urls != nullptr) {
            EXPECT_TRUE(ok) << r.hosts << ": " << why;
            EXPECT_EQ(urls, r.urls) << r.hosts;
        } else {
            EXPECT_FALSE(ok) << r.hosts;
            EXPECT_EQ(urls, "unchanged") << r.hosts;
            EXPECT_NE(why.find(r.why), std::string::npos) << r.hosts << ": " << why;
        }
    }
    EXPECT_EQ(ryxldap::withoutPorts(" a:1  [::1]:2 ldap://x:3 h:abc"), "a [::1] ldap://x:3 h:abc");
}

TEST(HostMemory, FailedHostsComeLastUntilTheyAnswerOrAreForgotten) {
    using Clock = ryxldap::HostMemory::Clock;
    const Clock::time_point t0 = Clock::now();
    const std::vector<std::string> list = {"a", "b", "c", "d"};
    ryxldap::HostMemory memory(std::chrono::seconds(300));
    const struct {
        const char* step;  // "-x": x failed at `at`; "+x": x answered; else: the order then
        int at;
    } steps[] = {
        {"a b c d", 0}, {"-c", 0},       {"-a", 10},       {"b d c a", 20},
        {"+c", 20},     {"b c d a", 20}, {"a b c d", 311},
    };
    for (const auto& s : steps) {
        const Clock::time_point now = t0 + std::chrono::seconds(s.at);
        const std::string text = s.step;
        if (text[0] == '-')
            memory.failed(text.substr(1), now);
        else if (text[0] == '+')
            memory.answered(text.substr(1));
        else {
            std::string order;
            for (const std::string& h : memory.order(list, now))
                order += (order.empty() ? "" : " ") + h;
            EXPECT_EQ(order, text) << "at " << s.at << " s";
        }
    }
}

TEST(Url, NulEscapesAreRefusedInEveryPart) {
    const char* const nul = "bad URL: \"%00\" would put a NUL character into it";
    const struct {
        const char* url;
        const char* why;  // null: accepted
    } rows[] = {
        {"ldap://h/cn=a%41,dc=x?cn?sub?(cn=%2a)?x-e=%20", nullptr},
        {"ldap://h%00x/cn=a", nul},
        {"ldap://h/cn=a%00b,dc=x", nul},
        {"ldap://h/cn=a?cn%00x", nul},
        {"ldap://h/cn=a?cn?sub?(cn=a%00)", nul},
        {"ldap://h/cn=a?cn?sub?(cn=a)?x-e=%00", nul},
        {"ldap:///%00", nul},
        {"ldap://h/cn=a%0", "bad URL: \"%0\" is not '%' and two hex digits"},
    };
    for (const auto& r : rows) {
        LDAPURLDesc* desc = nullptr;
        std::string why;
        const int rc = ryxldap::parseUrl(r.url, &desc, &why);
        EXPECT_EQ(rc, r.why == nullptr ? LDAP_URL_SUCCESS : LDAP_URL_ERR_BADURL) << r.url;
        EXPECT_EQ(why, r.why == nullptr ? "" : r.why) << r.url;
        EXPECT_EQ(desc != nullptr, r.why == nullptr) << r.url;
        if (desc != nullptr)
            ldap_free_urldesc(desc);
    }
}

TEST(Settings, Table) {
    using ryxldap::StartTls;
    const struct {
        const char* env;  // NAME=VALUE;... with each NAME after its "RYX_LDAP_"
        long network, idle;
        StartTls tls;
        bool fold;
        size_t complaints;
        long deadline = 600;
    } rows[] = {
        {"", 30, 60, StartTls::Off, false, 0},
        {"TIMEOUT=0;NETWORK_TIMEOUT=7", 7, 0, StartTls::Off, false, 0},
        {"TIMEOUT=86400;NETWORK_TIMEOUT=2147484", 86400, 86400, StartTls::Off, false, 1},
        {"TIMEOUT=99999999999999999999999", 30, 86400, StartTls::Off, false, 1},
        {"TIMEOUT=-1;NETWORK_TIMEOUT=ten", 30, 60, StartTls::Off, false, 2},
        {"TIMEOUT= 5", 30, 60, StartTls::Off, false, 1},
        {"STARTTLS=Try;FOLD_BINARY=1", 30, 60, StartTls::Try, true, 0},
        {"STARTTLS=require;FOLD_BINARY=off", 30, 60, StartTls::Require, false, 0},
        {"STARTTLS=requird;FOLD_BINARY=maybe", 30, 60, StartTls::Require, false, 2},
        {"STARTTLS=off;FOLD_BINARY=", 30, 60, StartTls::Off, false, 0},
        {"DEADLINE=0", 30, 60, StartTls::Off, false, 0, 0},
        {"DEADLINE=86401", 30, 60, StartTls::Off, false, 1, 86400},
        {"DEADLINE=1m", 30, 60, StartTls::Off, false, 1},
    };
    for (const auto& r : rows) {
        std::map<std::string, std::string> env;
        std::istringstream pairs(r.env);
        for (std::string pair; std::getline(pairs, pair, ';');) {
            env["RYX_LDAP_" + pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
        }
        std::vector<std::string> complaints;
        const ryxldap::Settings s = ryxldap::readSettings(
            [&](const char* name) {
                auto it = env.find(name);
                return it == env.end() ? static_cast<const char*>(nullptr) : it->second.c_str();
            },
            &complaints);
        EXPECT_EQ(s.networkTimeout, r.network) << r.env;
        EXPECT_EQ(s.idleTimeout, r.idle) << r.env;
        EXPECT_EQ(s.startTls, r.tls) << r.env;
        EXPECT_EQ(s.foldBinary, r.fold) << r.env;
        EXPECT_EQ(complaints.size(), r.complaints) << r.env;
        EXPECT_EQ(s.deadline, r.deadline) << r.env;
    }
}

}  // namespace
