// The slapd fixture itself: both schema flavours, restart, and that no server
// outlives its fixture.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <stdexcept>

#include "labslapd.h"
#include "ldaptestutil.h"

namespace {

const std::string kDer = selfSignedDer("Test CA");

std::vector<std::string> searchValues(const LabSlapd& f, const std::string& base, const char* attr,
                                      std::string* returnedName) {
    int rc = -1;
    RyxLdap ld = bindTo(f.host(), f.port(), nullptr, nullptr, &rc);
    EXPECT_EQ(rc, LDAP_SUCCESS);
    char* attrs[] = {const_cast<char*>(attr), nullptr};
    LDAPMessage* raw = nullptr;
    rc = ryx_ldap_search_st(ld.get(), base.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0,
                            nullptr, &raw);
    RyxMessage res(raw);
    EXPECT_EQ(rc, LDAP_SUCCESS);
    LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
    if (e == nullptr)
        return {};
    std::vector<std::string> names = attributesOf(ld.get(), e);
    if (names.size() != 1)
        return {};
    *returnedName = names[0];
    return valuesOf(ld.get(), e, names[0].c_str());
}

TEST(LabSlapdTest, StockSchemaNeedsBinaryOptionAndReturnsIt) {
    LabSlapd f(LabSlapd::Schema::Stock);
    f.start();
    const std::string dn = "cn=CA1," + f.suffix();
    EXPECT_NE(f.tryAddEntry(dn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                 {"cn", {"CA1"}},
                                 {"cACertificate", {kDer}}}),
              LDAP_SUCCESS);
    f.addEntry(dn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                    {"cn", {"CA1"}},
                    {"cACertificate;binary", {kDer}}});
    std::string name;
    EXPECT_EQ(searchValues(f, dn, "cACertificate", &name), std::vector<std::string>{kDer});
    EXPECT_EQ(name, "cACertificate;binary");
}

TEST(LabSlapdTest, OctetStringSchemaStoresPlainNames) {
    LabSlapd f(LabSlapd::Schema::OctetString, "o=Test,c=US");
    f.start();
    const std::string dn = "cn=CRL1," + f.suffix();
    f.addEntry(dn, {{"objectClass", {"cRLDistributionPoint"}},
                    {"cn", {"CRL1"}},
                    {"certificateRevocationList", {kDer, "{ASN}3003020100"}}});
    std::string name;
    EXPECT_EQ(searchValues(f, dn, "certificateRevocationList", &name),
              (std::vector<std::string>{kDer, "{ASN}3003020100"}));
    EXPECT_EQ(name, "certificateRevocationList");
    EXPECT_NE(f.tryAddEntry("cn=x," + f.suffix(), {{"objectClass", {"cRLDistributionPoint"}},
                                                   {"cn", {"x"}},
                                                   {"certificateRevocationList;binary", {kDer}}}),
              LDAP_SUCCESS);
}

TEST(LabSlapdTest, LdifLoadReplaceDeleteAndRestartKeepsData) {
    LabSlapd f;
    f.start();
    const int port = f.port();
    f.addLdif("dn: cn=Alice," + f.suffix() +
              "\nobjectClass: person\ncn: Alice\nsn: A\n\n"
              "dn: cn=Bob," +
              f.suffix() + "\nobjectClass: person\ncn: Bob\nsn: B\n");
    EXPECT_THROW(f.addLdif("dn: cn=Bad," + f.suffix() + "\nobjectClass: nosuchclass\n"),
                 std::runtime_error);
    f.replaceAttribute("cn=Alice," + f.suffix(), {"sn", {"Z"}});
    f.deleteEntry("cn=Bob," + f.suffix());
    f.restart();
    EXPECT_EQ(f.port(), port);
    EXPECT_TRUE(f.running());
    std::string name;
    EXPECT_EQ(searchValues(f, "cn=Alice," + f.suffix(), "sn", &name),
              std::vector<std::string>{"Z"});
    EXPECT_EQ(f.tryAddEntry("cn=Bob," + f.suffix(),
                            {{"objectClass", {"person"}}, {"cn", {"Bob"}}, {"sn", {"B"}}}),
              LDAP_SUCCESS);
}

TEST(LabSlapdTest, DestroyedFixtureLeavesNoServerOrFolder) {
    pid_t pid = -1;
    std::string dir;
    {
        LabSlapd f;
        f.start();
        pid = f.pid();
        dir = f.directory();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(::kill(pid, 0), 0);
    }
    EXPECT_NE(::kill(pid, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(LabSlapdTest, StopAndStartAgain) {
    LabSlapd f;
    f.start();
    f.stop();
    EXPECT_FALSE(f.running());
    EXPECT_EQ(f.pid(), -1);
    f.stop();
    f.start();
    EXPECT_TRUE(f.running());
}

}  // namespace
