// The toolkit LDAP library against misbehaving servers on loopback: every wait
// ends within the bound without data plus a second; a transfer that keeps
// arriving is never cut. Also the refusals that need no server: unknown
// handles, host lists and URLs that do not parse, each with its reason.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>

#include "fakeserver.h"
#include "ldaptestutil.h"

namespace {

constexpr int kBound = 2;  // RYX_LDAP_TIMEOUT for these tests

using Clock = std::chrono::steady_clock;
using Mode = FakeServer::Mode;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class Bounds : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("RYX_LDAP_TIMEOUT", std::to_string(kBound).c_str(), 1); }
    void TearDown() override {
        ::unsetenv("RYX_LDAP_TIMEOUT");
        ::unsetenv("RYX_LDAP_STARTTLS");
    }
};

TEST_F(Bounds, SilentServersEndWithinTheBound) {
    enum class Op { Bind, Search, Url };
    struct Row {
        const char* name;
        Mode mode;
        const char* scheme;
        const char* startTls;
        Op op;
    };
    const Row rows[] = {
        {"bind never answered", Mode::Silent, "", "off", Op::Bind},
        {"TLS handshake never answered (ldaps)", Mode::Silent, "ldaps://", "off", Op::Bind},
        {"StartTLS never answered", Mode::Silent, "", "require", Op::Bind},
        {"search never answered", Mode::BindOnly, "", "off", Op::Search},
        {"search stalls mid-transfer", Mode::Stall, "", "off", Op::Search},
        {"URL search stalls mid-transfer", Mode::Stall, "", "off", Op::Url},
    };
    for (const Row& r : rows) {
        FakeServer server(r.mode);
        ::setenv("RYX_LDAP_STARTTLS", r.startTls, 1);
        RyxLdap ld(ryx_ldap_init((r.scheme + server.hostPort()).c_str(), 0));
        ASSERT_NE(ld, nullptr);
        LDAPMessage* raw = nullptr;
        const Clock::time_point start = Clock::now();
        int rc = ryx_ldap_simple_bind_s(ld.get(), nullptr, nullptr);
        if (r.op == Op::Search && rc == LDAP_SUCCESS)
            rc = ryx_ldap_search_st(ld.get(), "", 0, "(objectClass=*)", nullptr, 0, nullptr, &raw);
        if (r.op == Op::Url) {
            const std::string url = "ldap://" + server.hostPort() + "/cn=x";
            rc = ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &raw);
        }
        const double waited = secondsSince(start);
        RyxMessage res(raw);
        EXPECT_EQ(rc, 81) << r.name;
        EXPECT_EQ(raw, nullptr) << r.name;
        EXPECT_LT(waited, kBound + 1.0) << r.name;
        EXPECT_STREQ(ryx_ldap_err2string(81),
                     "Can't contact LDAP server (no data from the server "
                     "for 2 s)")
            << r.name;
        std::cout << std::fixed << std::setprecision(2) << "  " << r.name << ": " << waited
                  << " s (bound " << kBound << " s)\n";
    }
    // A later failure with the same code and no reason of its own shows none.
    RyxLdap refused(ryx_ldap_init("127.0.0.1:1", 0));
    EXPECT_EQ(ryx_ldap_simple_bind_s(refused.get(), nullptr, nullptr), 81);
    EXPECT_STREQ(ryx_ldap_err2string(81), ldap_err2string(LDAP_SERVER_DOWN));
}

TEST_F(Bounds, TransferThatKeepsArrivingIsNotCut) {
    const std::string value(200000, 'x');
    FakeServer server(Mode::Trickle, value, std::chrono::milliseconds(500));
    RyxLdap ld(ryx_ldap_init(server.hostPort().c_str(), 0));
    LDAPMessage* raw = nullptr;
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(ryx_ldap_search_st(ld.get(), "", 0, "(objectClass=*)", nullptr, 0, nullptr, &raw),
              LDAP_SUCCESS);
    RyxMessage res(raw);
    EXPECT_GT(secondsSince(start), kBound + 1.0);
    LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(valuesOf(ld.get(), e, "description"), std::vector<std::string>{value});
}

TEST_F(Bounds, ClosedHandleKeepsItsCodeAndReleasesItsSocket) {
    FakeServer server(Mode::Drop);
    RyxLdap ld(ryx_ldap_init(server.hostPort().c_str(), 0));
    ASSERT_EQ(ryx_ldap_simple_bind_s(ld.get(), nullptr, nullptr), LDAP_SUCCESS);
    LDAPMessage* raw = nullptr;
    EXPECT_EQ(ryx_ldap_search_st(ld.get(), "", 0, "(objectClass=*)", nullptr, 0, nullptr, &raw),
              81);
    // Closed: no new connection, the same answer, also for a bind.
    EXPECT_EQ(ryx_ldap_simple_bind_s(ld.get(), nullptr, nullptr), 81);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), 81);
    EXPECT_EQ(server.connections(), 1);
}

TEST(Refusals, ReasonsWithoutAServer) {
    // A handle this library never issued.
    LDAP* bogus = reinterpret_cast<LDAP*>(0x1000);
    LDAPMessage* raw = nullptr;
    EXPECT_EQ(ryx_ldap_search_st(bogus, "", 0, "(objectClass=*)", nullptr, 0, nullptr, &raw), 89);
    EXPECT_STREQ(ryx_ldap_err2string(89),
                 "Bad parameter to an ldap routine (not a connection handle of this library)");
    EXPECT_EQ(ryx_ldap_unbind(bogus), 89);
    EXPECT_EQ(ryx_ldap_get_errno(bogus), 89);
    EXPECT_EQ(ryx_ldap_first_entry(bogus, reinterpret_cast<LDAPMessage*>(8)), nullptr);
    // An unbound handle is unknown from then on.
    LDAP* once = ryx_ldap_init("127.0.0.1", 1);
    EXPECT_EQ(ryx_ldap_unbind(once), LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_unbind(once), 89);

    struct Row {
        const char* host;
        const char* url;  // null: a bind
        int rc;
        const char* reason;
    };
    const Row rows[] = {
        {"127.0.0.1:99999", nullptr, 89,
         "host list: port of \"127.0.0.1:99999\" is not a number from 1 to 65535"},
        {"127.0.0.1:1", "ldap:///cn=x%zz,dc=y", 89,
         "bad URL: \"%zz\" is not '%' and two hex digits"},
        {"127.0.0.1:1", "ldap:///cn=x%", 89, "bad URL: \"%\" is not '%' and two hex digits"},
        {"127.0.0.1:1",
         "ldap:///cn=x???"
         "?!x-crit",
         92, "bad URL: critical extension \"!x-crit\" is not supported"},
        {"127.0.0.1:1", "ldap:///cn=x??sideways", 89,
         "bad URL: its scope is not base, one, sub or children"},
    };
    for (const Row& r : rows) {
        RyxLdap ld(ryx_ldap_init(r.host, 0));
        ASSERT_NE(ld, nullptr) << r.host;
        raw = nullptr;
        const int rc = r.url == nullptr ? ryx_ldap_simple_bind_s(ld.get(), nullptr, nullptr)
                                        : ryx_ldap_url_search_st(ld.get(), r.url, 0, nullptr, &raw);
        EXPECT_EQ(rc, r.rc) << r.reason;
        EXPECT_EQ(raw, nullptr) << r.reason;
        EXPECT_EQ(ryx_ldap_get_errno(ld.get()), r.rc) << r.reason;
        EXPECT_EQ(std::string(ryx_ldap_err2string(r.rc)),
                  std::string(ldap_err2string(r.rc == 89 ? LDAP_PARAM_ERROR : LDAP_NOT_SUPPORTED)) +
                      " (" + r.reason + ")");
    }
}

}  // namespace
