// The toolkit LDAP library against misbehaving servers on loopback: each wait
// ends within its bound, with the reason in the error text; a transfer that
// keeps arriving is never cut. Also the refusals that need no server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "fakeserver.h"
#include "ldaptestutil.h"
#include "ryxldapconfig.h"
#include "timebound.h"

namespace {

constexpr int kBound = 2;  // RYX_LDAP_TIMEOUT for these tests

using Mode = FakeServer::Mode;

class Bounds : public ::testing::Test {
  protected:
    void SetUp() override { ::setenv("RYX_LDAP_TIMEOUT", std::to_string(kBound).c_str(), 1); }
    void TearDown() override {
        for (const char* name : {"RYX_LDAP_TIMEOUT", "RYX_LDAP_STARTTLS", "RYX_LDAP_DEADLINE"})
            ::unsetenv(name);
    }
};

// A bind as "cn=u" and a search for cn=x (by URL naming hosts, or on the
// handle) on a new handle for hosts; the description found, or the failure's
// code and text.
std::string bindAndSearch(const std::string& hosts, bool byUrl = false) {
    RyxLdap ld(ryx_ldap_init(hosts.c_str(), 0));
    int rc = ryx_ldap_simple_bind_s(ld.get(), "cn=u", "pw");
    LDAPMessage* raw = nullptr;
    const std::string url = "ldap://" + hosts + "/cn=x";  // byUrl: hosts is one host:port
    if (rc == LDAP_SUCCESS && byUrl)
        rc = ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &raw);
    else if (rc == LDAP_SUCCESS)
        rc = ryx_ldap_search_st(ld.get(), "cn=x", 0, "(cn=*)", nullptr, 0, nullptr, &raw);
    RyxMessage res(raw);
    EXPECT_TRUE(rc == LDAP_SUCCESS || raw == nullptr) << "a failed search leaves no message";
    if (rc != LDAP_SUCCESS)
        return std::to_string(rc) + " " + ryx_ldap_err2string(rc);
    const std::vector<std::string> found =
        valuesOf(ld.get(), ryx_ldap_first_entry(ld.get(), res.get()), "description");
    return found.empty() ? "no value" : found[0];
}

// A wait for a server that sends too little ends within the idle bound (the
// program's setting wins over the variable's), or within the deadline where a
// server drips its answer and so keeps the idle bound from ending the wait.
TEST_F(Bounds, WaitsEndWithinTheirBound) {
    const std::map<std::string, Mode> modes = {
        {"silent", Mode::Silent}, {"stall", Mode::Stall}, {"drip", Mode::Drip}};
    for (const Case& r : casesOf("waits.tsv", 8)) {
        FakeServer server(modes.at(r[1]), std::string(100, 'x'));
        const bool configured = r[5] == "program";
        ::setenv("RYX_LDAP_STARTTLS", r[3].c_str(), 1);
        ::setenv("RYX_LDAP_DEADLINE", r[6].c_str(), 1);
        ::setenv("RYX_LDAP_TIMEOUT", configured ? "20" : "2", 1);
        ryx_ldap_config c{};
        c.size = sizeof c;
        c.set = configured ? RYX_LDAP_SET_TIMEOUT : 0;
        c.timeout = kBound;
        ASSERT_EQ(ryx_ldap_configure(&c), 0);
        const Stopwatch watch;
        EXPECT_EQ(bindAndSearch(r[2] + server.hostPort(), r[4] == "url"), r[7]) << r[0];
        expectWithin(watch.seconds(), r[6] != "0" ? std::stoi(r[6]) : kBound, r[0]);
    }
}

// A setting out of range is refused whole, with its reason.
TEST_F(Bounds, BadSettingsAreRefused) {
    const std::map<std::string, unsigned int> bits = {{"timeout", RYX_LDAP_SET_TIMEOUT},
                                                      {"deadline", RYX_LDAP_SET_DEADLINE},
                                                      {"cacert", RYX_LDAP_SET_CACERT},
                                                      {"unknown", 0x8000u}};
    for (const Case& r : casesOf("badsettings.tsv", 5)) {
        ryx_ldap_config c{};
        std::istringstream names(r[1]);
        for (std::string name; names >> name;)
            c.set |= bits.at(name);
        c.size = r[3] == "short" ? sizeof c - 1 : sizeof c;
        c.timeout = c.deadline = std::stol(r[2]);
        EXPECT_EQ(ryx_ldap_configure(&c), 89) << r[0];
        EXPECT_THAT(ryx_ldap_err2string(89), ::testing::HasSubstr(r[4])) << r[0];
    }
    EXPECT_EQ(ryx_ldap_configure(nullptr), 89);
}

// A first host whose answer stalls counts as down: the second answers within
// the same call, and later handles start at the second.
TEST_F(Bounds, StalledFirstHostFailsOverToTheNext) {
    FakeServer first(Mode::Stall), second(Mode::Answer, "second");
    const std::string hosts = first.hostPort() + " " + second.hostPort();
    const Stopwatch watch;
    EXPECT_EQ(bindAndSearch(hosts), "second");
    expectWithin(watch.seconds(), kBound + 1, "search stalls mid-transfer");
    EXPECT_EQ(bindAndSearch(hosts), "second");
    EXPECT_EQ(first.connections(), 1) << "the failed host was tried first again";
    // With every host down the handle fails with the last host's reason (here
    // none: an earlier host's does not linger).
    FakeServer silent(Mode::Silent);
    EXPECT_EQ(bindAndSearch(silent.hostPort() + " 127.0.0.1:1"),
              "81 " + std::string(ldap_err2string(LDAP_SERVER_DOWN)));
}

TEST_F(Bounds, TransferThatKeepsArrivingIsNotCut) {
    const std::string value(200000, 'x');
    FakeServer server(Mode::Trickle, value);  // 4 s for the entry: twice the bound
    EXPECT_EQ(bindAndSearch(server.hostPort()), value);
}

// The cases of refusals.tsv, and null arguments.
TEST(Refusals, ReasonsWithoutAServer) {
    for (const Case& c : casesOf("refusals.tsv", 4)) {
        RyxLdap owned(c[0] != "-" ? ryx_ldap_init(c[0].c_str(), 0) : nullptr);
        LDAP* ld = c[0] != "-" ? owned.get() : reinterpret_cast<LDAP*>(0x1000);
        LDAPMessage* raw = nullptr;
        const int rc = c[1].empty() ? ryx_ldap_simple_bind_s(ld, nullptr, nullptr)
                                    : ryx_ldap_url_search_st(ld, c[1].c_str(), 0, nullptr, &raw);
        EXPECT_EQ(rc, std::stoi(c[2])) << c[3];
        EXPECT_EQ(raw, nullptr) << c[3];
        EXPECT_EQ(ryx_ldap_get_errno(ld), rc) << c[3];
        EXPECT_EQ(ryx_ldap_err2string(rc), c[3]);
    }
    // An unbound handle is unknown from then on.
    LDAP* once = ryx_ldap_init("127.0.0.1", 1);
    EXPECT_EQ(ryx_ldap_unbind(once), LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_unbind(once), 89);
    // Null arguments are refused, never followed. (The releasing functions pass
    // null on to OpenLDAP's, which ignore it.)
    LDAPMessage* res = reinterpret_cast<LDAPMessage*>(1);
    EXPECT_EQ(ryx_ldap_search_st(nullptr, "", 0, "(cn=*)", nullptr, 0, nullptr, &res), 89);
    EXPECT_EQ(res, nullptr);
    EXPECT_EQ(ryx_ldap_first_entry(nullptr, nullptr), nullptr);
    EXPECT_EQ(ryx_ldap_get_dn(nullptr, nullptr), nullptr);
    EXPECT_EQ(ryx_ldap_count_entries(nullptr, nullptr), -1);
    EXPECT_EQ(ryx_ldap_msgfree(nullptr), 0);
}

}  // namespace
