// The fake library's variants export what they should, and a walk over canned
// entries releases everything it was handed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <ldap.h>

#include "fakeldap_control.h"

namespace {
bool exports(const char* path, const char* name) {
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(h, nullptr) << dlerror();
    bool found = h != nullptr && dlsym(h, name) != nullptr;
    if (h != nullptr)
        dlclose(h);
    return found;
}
}  // namespace

TEST(FakeLdapVariants, ExportExactlyTheirFunctions) {
    EXPECT_TRUE(exports(FAKELDAP_FULL, "ldap_url_search_st"));
    EXPECT_TRUE(exports(FAKELDAP_FULL, "ldap_get_errno"));
    EXPECT_FALSE(exports(FAKELDAP_FULL, "ryx_ldap_init"));
    EXPECT_FALSE(exports(FAKELDAP_NOURL, "ldap_url_search_st"));
    EXPECT_FALSE(exports(FAKELDAP_NOURL, "ldap_url_parse"));
    EXPECT_FALSE(exports(FAKELDAP_NOURL, "ldap_free_urldesc"));
    EXPECT_TRUE(exports(FAKELDAP_NOURL, "ldap_count_entries"));
    EXPECT_FALSE(exports(FAKELDAP_NOERRNO, "ldap_get_errno"));
    EXPECT_FALSE(exports(FAKELDAP_NOERRNO, "ldap_ber_free"));
    EXPECT_FALSE(exports(FAKELDAP_NOCOUNT, "ldap_count_entries"));
    EXPECT_TRUE(exports(FAKELDAP_PREFIXED, "ryx_ldap_init"));
    EXPECT_TRUE(exports(FAKELDAP_PREFIXED, "ryx_ldap_ber_free"));
    EXPECT_FALSE(exports(FAKELDAP_PREFIXED, "ldap_init"));
    EXPECT_TRUE(exports(FAKELDAP_PREFIXED, "fake_reset"));
}

TEST(FakeLdapWalk, ReleasesEverythingAndRecordsCalls) {
    FakeLdap fake(FAKELDAP_FULL);
    void* h = dlopen(FAKELDAP_FULL, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    auto init = reinterpret_cast<LDAP* (*)(const char*, int)>(dlsym(h, "ldap_init"));
    auto search = reinterpret_cast<int (*)(LDAP*, const char*, int, const char*, char**, int,
                                           timeval*, LDAPMessage**)>(dlsym(h, "ldap_search_st"));
    auto first =
        reinterpret_cast<LDAPMessage* (*)(LDAP*, LDAPMessage*)>(dlsym(h, "ldap_first_entry"));
    auto dn = reinterpret_cast<char* (*)(LDAP*, LDAPMessage*)>(dlsym(h, "ldap_get_dn"));
    auto attr = reinterpret_cast<char* (*)(LDAP*, LDAPMessage*, BerElement**)>(
        dlsym(h, "ldap_first_attribute"));
    auto values = reinterpret_cast<berval** (*)(LDAP*, LDAPMessage*, const char*)>(
        dlsym(h, "ldap_get_values_len"));
    auto freeValues = reinterpret_cast<void (*)(berval**)>(dlsym(h, "ldap_value_free_len"));
    auto memfree = reinterpret_cast<void (*)(void*)>(dlsym(h, "ldap_memfree"));
    auto berFree = reinterpret_cast<void (*)(BerElement*, int)>(dlsym(h, "ldap_ber_free"));
    auto msgfree = reinterpret_cast<int (*)(LDAPMessage*)>(dlsym(h, "ldap_msgfree"));
    auto unbind = reinterpret_cast<int (*)(LDAP*)>(dlsym(h, "ldap_unbind"));

    fake.fake_add_entry("cn=a,o=x");
    fake.fake_add_value("cn", "abc", 3);
    fake.fake_push_result("ldap_search_st", 32);
    LDAP* ld = init(nullptr, 389);
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(fake.fake_last_init_host(), nullptr);
    LDAPMessage* res = nullptr;
    EXPECT_EQ(search(ld, "o=x", 2, "(cn=*)", nullptr, 0, nullptr, &res), 32);
    ASSERT_NE(res, nullptr);  // a failure still stores a result
    LDAPMessage* e = first(ld, res);
    char* d = dn(ld, e);
    EXPECT_STREQ(d, "cn=a,o=x");
    BerElement* ber = nullptr;
    char* a = attr(ld, e, &ber);
    EXPECT_STREQ(a, "cn");
    berval** v = values(ld, e, a);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[0]->bv_len, 3u);
    EXPECT_EQ(v[0]->bv_val[3], '\0');
    EXPECT_GT(fake.fake_live_allocations(), 0);
    freeValues(v);
    memfree(a);
    memfree(d);
    berFree(ber, 0);
    msgfree(res);
    unbind(ld);
    EXPECT_EQ(fake.fake_live_allocations(), 0);
    EXPECT_EQ(fake.fake_open_connections(), 0);
    EXPECT_EQ(fake.fake_call_count("ldap_search_st"), 1);
    EXPECT_EQ(std::string(fake.fake_last_search_attrs()), "NULL");
    dlclose(h);
}
