// Runs inside a private network namespace (see CMakeLists.txt): slapd listens
// on 127.0.0.1:389, so URLs and hosts that name no port reach it.
#include <gtest/gtest.h>

#include <algorithm>

#include "labslapd.h"
#include "ldaptestutil.h"

namespace {

const std::string kDer("\x30\x03\x02\x01\x07", 5);

class NetnsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString, "dc=localhost", 389);
        s_slapd->start();
        s_slapd->addEntry("cn=CRL,dc=localhost", {{"objectClass", {"cRLDistributionPoint"}},
                                                  {"cn", {"CRL"}},
                                                  {"certificateRevocationList", {kDer}}});
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
    }
    static LabSlapd* s_slapd;
};

LabSlapd* NetnsTest::s_slapd = nullptr;

TEST_F(NetnsTest, UrlWithHostButNoPortUses389) {
    // The primary points at a port where nothing listens.
    RyxLdap ld(ryx_ldap_init("127.0.0.1", 1));
    ASSERT_NE(ld, nullptr);
    for (const char* url : {"ldap://127.0.0.1/cn=CRL,dc=localhost?certificateRevocationList",
                            "ldap://localhost/cn=CRL,dc=localhost?certificateRevocationList"}) {
        LDAPMessage* raw = nullptr;
        ASSERT_EQ(ryx_ldap_url_search_st(ld.get(), url, 0, nullptr, &raw), LDAP_SUCCESS) << url;
        RyxMessage res(raw);
        LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(attributesOf(ld.get(), e), std::vector<std::string>{"certificateRevocationList"});
        EXPECT_EQ(valuesOf(ld.get(), e, "certificateRevocationList"),
                  std::vector<std::string>{kDer});
    }
}

TEST_F(NetnsTest, HostWithoutPortAndDefaultHost) {
    RyxLdap named(ryx_ldap_init("127.0.0.1", 0));
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(ryx_ldap_simple_bind_s(named.get(), s_slapd->rootDN().c_str(),
                                     s_slapd->rootPassword().c_str()),
              LDAP_SUCCESS);
    RyxLdap byDefault(ryx_ldap_init(nullptr, 389));
    ASSERT_NE(byDefault, nullptr);
    EXPECT_EQ(ryx_ldap_simple_bind_s(byDefault.get(), nullptr, nullptr), LDAP_SUCCESS);
    RyxLdap blank(ryx_ldap_init("  ", 0));
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(ryx_ldap_simple_bind_s(blank.get(), nullptr, nullptr), LDAP_SUCCESS);
}

}  // namespace
