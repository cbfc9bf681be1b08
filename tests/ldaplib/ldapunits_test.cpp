// The toolkit LDAP library's inner units (host lists, the memory of failed
// hosts, URL checks, settings), driven by the cases of the *.tsv beside them.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "hostlist.h"
#include "ldaptestutil.h"
#include "ldapurl.h"
#include "settings.h"

namespace {

TEST(HostList, Cases) {
    for (const Case& c : casesOf("hostlist.tsv", 3)) {
        std::string urls = "unchanged", why;
        const bool ok = ryxldap::hostListToUrls(c[0], std::stoi(c[1]), &urls, &why);
        const bool refused = !c[2].empty() && c[2][0] == '!';
        EXPECT_EQ(ok, !refused) << c[0] << ": " << why;
        EXPECT_EQ(urls, refused ? "unchanged" : c[2]) << c[0];
        EXPECT_NE(why.find(refused ? c[2].substr(1) : ""), std::string::npos) << c[0] << why;
    }
    EXPECT_EQ(ryxldap::withoutPorts(" a:1  [::1]:2 ldap://x:3 h:abc"), "a [::1] ldap://x:3 h:abc");
}

TEST(HostMemory, FailedHostsComeLastUntilTheyAnswerOrAreForgotten) {
    const ryxldap::HostMemory::Clock::time_point t0 = ryxldap::HostMemory::Clock::now();
    ryxldap::HostMemory memory(std::chrono::seconds(300));
    for (const Case& c : casesOf("hostmemory.tsv", 2)) {
        const auto now = t0 + std::chrono::seconds(std::stoi(c[0]));
        if (c[1][0] == '-' || c[1][0] == '+') {
            c[1][0] == '-' ? memory.failed(c[1].substr(1), now) : memory.answered(c[1].substr(1));
            continue;
        }
        std::string order;
        for (const std::string& h : memory.order({"a", "b", "c", "d"}, now))
            order += (order.empty() ? "" : " ") + h;
        EXPECT_EQ(order, c[1]) << "at " << c[0] << " s";
    }
}

TEST(Url, Cases) {
    for (const Case& c : casesOf("url.tsv", 2)) {
        LDAPURLDesc* desc = nullptr;
        std::string why;
        const int rc = ryxldap::parseUrl(c[0].c_str(), &desc, &why);
        EXPECT_EQ(rc, c[1].empty() ? LDAP_URL_SUCCESS : LDAP_URL_ERR_BADURL) << c[0];
        EXPECT_EQ(why, c[1]) << c[0];
        EXPECT_EQ(desc != nullptr, c[1].empty()) << c[0];
        ldap_free_urldesc(desc);
    }
}

TEST(Settings, Cases) {
    const char* const tls[] = {"off", "try", "require"};  // StartTls's values in order
    for (const Case& c : casesOf("settings.tsv", 7)) {
        std::map<std::string, std::string> env;
        std::istringstream pairs(c[0]);
        for (std::string pair; std::getline(pairs, pair, ';');)
            env["RYX_LDAP_" + pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
        std::vector<std::string> complaints;
        const ryxldap::Settings s = ryxldap::readSettings(
            [&](const char* name) {
                auto it = env.find(name);
                return it == env.end() ? static_cast<const char*>(nullptr) : it->second.c_str();
            },
            &complaints);
        std::ostringstream got;
        got << s.networkTimeout << ' ' << s.idleTimeout << ' ' << tls[static_cast<int>(s.startTls)]
            << ' ' << s.foldBinary << ' ' << complaints.size() << ' ' << s.deadline;
        EXPECT_EQ(got.str(), c[1] + " " + c[2] + " " + c[3] + " " + c[4] + " " + c[5] + " " + c[6])
            << c[0];
    }
}

}  // namespace
