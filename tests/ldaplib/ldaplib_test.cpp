// The toolkit LDAP library against a real slapd, through its ryx_ functions.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "labslapd.h"
#include "ldaptestutil.h"

namespace {

const std::string kDer = selfSignedDer("Test CA");

int closedLoopbackPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

class LdapLibTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::Stock);
        s_slapd->start();
        const std::string& sfx = s_slapd->suffix();
        s_slapd->addLdif("dn: ou=people," + sfx +
                         "\nobjectClass: organizationalUnit\nou: people\n");
        for (const char* cn : {"Ann", "Ben", "Cid"}) {
            s_slapd->addEntry(std::string("cn=") + cn + ",ou=people," + sfx,
                              {{"objectClass", {"person"}}, {"cn", {cn}}, {"sn", {"S"}}});
        }
        s_slapd->addEntry("cn=CA1," + sfx, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                            {"cn", {"CA1"}},
                                            {"description", {"first CA"}},
                                            {"cACertificate;binary", {kDer}}});
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
    }

    RyxLdap rootBind() {
        int rc = -1;
        RyxLdap ld = bindTo(s_slapd->host(), s_slapd->port(), s_slapd->rootDN().c_str(),
                            s_slapd->rootPassword().c_str(), &rc);
        EXPECT_EQ(rc, LDAP_SUCCESS);
        return ld;
    }
    RyxLdap anonymous() {
        int rc = -1;
        RyxLdap ld = bindTo(s_slapd->host(), s_slapd->port(), nullptr, nullptr, &rc);
        EXPECT_EQ(rc, LDAP_SUCCESS);
        return ld;
    }
    std::string dn(const std::string& rdn) { return rdn + "," + s_slapd->suffix(); }

    // A base search for one entry; empty values when it is missing.
    std::vector<std::string> values(LDAP* ld, const std::string& base, const char* attr) {
        char* attrs[] = {const_cast<char*>(attr), nullptr};
        LDAPMessage* raw = nullptr;
        int rc = ryx_ldap_search_st(ld, base.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0,
                                    nullptr, &raw);
        RyxMessage res(raw);
        if (rc != LDAP_SUCCESS)
            return {};
        LDAPMessage* e = ryx_ldap_first_entry(ld, res.get());
        return e == nullptr ? std::vector<std::string>{} : valuesOf(ld, e, attr);
    }

    static LabSlapd* s_slapd;
};

LabSlapd* LdapLibTest::s_slapd = nullptr;

TEST_F(LdapLibTest, BindGoodBadAndAnonymous) {
    int rc = -1;
    RyxLdap good = bindTo(s_slapd->host(), s_slapd->port(), s_slapd->rootDN().c_str(),
                          s_slapd->rootPassword().c_str(), &rc);
    EXPECT_EQ(rc, LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_get_errno(good.get()), LDAP_SUCCESS);

    RyxLdap bad = bindTo(s_slapd->host(), s_slapd->port(), s_slapd->rootDN().c_str(), "wrong", &rc);
    EXPECT_EQ(rc, LDAP_INVALID_CREDENTIALS);
    EXPECT_EQ(ryx_ldap_get_errno(bad.get()), LDAP_INVALID_CREDENTIALS);

    RyxLdap anon = bindTo(s_slapd->host(), s_slapd->port(), nullptr, nullptr, &rc);
    EXPECT_EQ(rc, LDAP_SUCCESS);
    RyxLdap emptyDn = bindTo(s_slapd->host(), s_slapd->port(), "", "", &rc);
    EXPECT_EQ(rc, LDAP_SUCCESS);
}

TEST_F(LdapLibTest, SearchReturnsBinaryUnderBinaryNameAndText) {
    RyxLdap ld = anonymous();
    char a1[] = "cACertificate";
    char a2[] = "description";
    char* attrs[] = {a1, a2, nullptr};
    LDAPMessage* raw = nullptr;
    timeval tv{30, 0};
    ASSERT_EQ(ryx_ldap_search_st(ld.get(), dn("cn=CA1").c_str(), LDAP_SCOPE_BASE,
                                 "(cACertificate=*)", attrs, 0, &tv, &raw),
              LDAP_SUCCESS);
    RyxMessage res(raw);
    ASSERT_EQ(ryx_ldap_count_entries(ld.get(), res.get()), 1);
    LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
    ASSERT_NE(e, nullptr);
    std::vector<std::string> names = attributesOf(ld.get(), e);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cACertificate;binary", "description"}));
    EXPECT_EQ(valuesOf(ld.get(), e, "cACertificate;binary"), std::vector<std::string>{kDer});
    EXPECT_EQ(valuesOf(ld.get(), e, "description"), std::vector<std::string>{"first CA"});
    EXPECT_TRUE(valuesOf(ld.get(), e, "cn").empty());
    EXPECT_EQ(ryx_ldap_next_entry(ld.get(), e), nullptr);
}

TEST_F(LdapLibTest, BinaryNamesFoldOnlyForPlainRequests) {
    struct Row {
        const char* fold;
        std::vector<const char*> asked;
        const char* reported;  // the one attribute name the walk gives
        const char* lookup;    // a name for ryx_ldap_get_values_len
        size_t values;
    };
    const Row rows[] = {
        {"0", {"cACertificate"}, "cACertificate;binary", "cACertificate", 0},
        {"1", {"CACERTIFICATE"}, "cACertificate", "cacertificate", 1},
        {"1",
         {"cACertificate", "cACertificate;binary"},
         "cACertificate;binary",
         "cACertificate",
         0},
    };
    for (const Row& r : rows) {
        ::setenv("RYX_LDAP_FOLD_BINARY", r.fold, 1);
        RyxLdap ld = anonymous();
        std::vector<char*> attrs;
        for (const char* a : r.asked)
            attrs.push_back(const_cast<char*>(a));
        attrs.push_back(nullptr);
        LDAPMessage* raw = nullptr;
        ASSERT_EQ(ryx_ldap_search_st(ld.get(), dn("cn=CA1").c_str(), LDAP_SCOPE_BASE,
                                     "(objectClass=*)", attrs.data(), 0, nullptr, &raw),
                  LDAP_SUCCESS);
        RyxMessage res(raw);
        LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
        const std::string label = std::string(r.fold) + " " + r.asked[0];
        EXPECT_EQ(attributesOf(ld.get(), e), std::vector<std::string>{r.reported}) << label;
        EXPECT_EQ(valuesOf(ld.get(), e, r.lookup).size(), r.values) << label;
    }
    ::unsetenv("RYX_LDAP_FOLD_BINARY");
}

TEST_F(LdapLibTest, NoHostMeansTheDefaultHostOnTheGivenPort) {
    // The default host list comes with the library's own port attached; the
    // port asked for must win over it.
    RyxLdap ld(ryx_ldap_init(nullptr, s_slapd->port()));
    ASSERT_NE(ld.get(), nullptr);
    EXPECT_EQ(values(ld.get(), dn("cn=CA1"), "description"), std::vector<std::string>{"first CA"});
}

TEST_F(LdapLibTest, MissingBaseGives32) {
    RyxLdap ld = anonymous();
    LDAPMessage* raw = nullptr;
    EXPECT_EQ(ryx_ldap_search_st(ld.get(), dn("cn=nobody").c_str(), LDAP_SCOPE_BASE,
                                 "(objectClass=*)", nullptr, 0, nullptr, &raw),
              LDAP_NO_SUCH_OBJECT);
    RyxMessage res(raw);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), LDAP_NO_SUCH_OBJECT);
    EXPECT_EQ(ryx_ldap_count_entries(ld.get(), res.get()), res ? 0 : -1);
    EXPECT_EQ(ryx_ldap_first_entry(ld.get(), res.get()), nullptr);
}

TEST_F(LdapLibTest, WalkEntriesAttributesAndNames) {
    RyxLdap ld = anonymous();
    LDAPMessage* raw = nullptr;
    ASSERT_EQ(ryx_ldap_search_st(ld.get(), dn("ou=people").c_str(), LDAP_SCOPE_ONELEVEL,
                                 "(objectClass=person)", nullptr, 0, nullptr, &raw),
              LDAP_SUCCESS);
    RyxMessage res(raw);
    EXPECT_EQ(ryx_ldap_count_entries(ld.get(), res.get()), 3);
    std::set<std::string> dns;
    int walked = 0;
    for (LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get()); e != nullptr;
         e = ryx_ldap_next_entry(ld.get(), e)) {
        ++walked;
        dns.insert(dnOf(ld.get(), e));
        std::vector<std::string> names = attributesOf(ld.get(), e);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
                  (std::set<std::string>{"objectClass", "cn", "sn"}));
    }
    EXPECT_EQ(walked, 3);
    EXPECT_EQ(dns, (std::set<std::string>{dn("cn=Ann,ou=people"), dn("cn=Ben,ou=people"),
                                          dn("cn=Cid,ou=people")}));

    // Names only.
    raw = nullptr;
    ASSERT_EQ(ryx_ldap_search_st(ld.get(), dn("cn=Ann,ou=people").c_str(), LDAP_SCOPE_BASE,
                                 "(objectClass=*)", nullptr, 1, nullptr, &raw),
              LDAP_SUCCESS);
    RyxMessage namesOnly(raw);
    LDAPMessage* e = ryx_ldap_first_entry(ld.get(), namesOnly.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(attributesOf(ld.get(), e).size(), 3u);
    EXPECT_TRUE(valuesOf(ld.get(), e, "sn").empty());
}

TEST_F(LdapLibTest, AddModifyDelete) {
    RyxLdap ld = rootBind();
    const std::string target = dn("cn=Dora");
    std::string der = kDer;
    char person[] = "person";
    char strong[] = "strongAuthenticationUser";
    berval ocv[] = {{std::strlen(person), person}, {std::strlen(strong), strong}};
    berval cnv{4, const_cast<char*>("Dora")};
    berval snv{1, const_cast<char*>("D")};
    berval certv{static_cast<ber_len_t>(der.size()), der.data()};
    berval* ocs[] = {&ocv[0], &ocv[1], nullptr};
    berval* cns[] = {&cnv, nullptr};
    berval* sns[] = {&snv, nullptr};
    berval* certs[] = {&certv, nullptr};
    LDAPMod oc{LDAP_MOD_ADD | LDAP_MOD_BVALUES, const_cast<char*>("objectClass"), {}};
    oc.mod_bvalues = ocs;
    LDAPMod cn{LDAP_MOD_ADD | LDAP_MOD_BVALUES, const_cast<char*>("cn"), {}};
    cn.mod_bvalues = cns;
    LDAPMod sn{LDAP_MOD_ADD | LDAP_MOD_BVALUES, const_cast<char*>("sn"), {}};
    sn.mod_bvalues = sns;
    LDAPMod cert{LDAP_MOD_ADD | LDAP_MOD_BVALUES, const_cast<char*>("userCertificate;binary"), {}};
    cert.mod_bvalues = certs;
    LDAPMod* mods[] = {&oc, &cn, &sn, &cert, nullptr};
    ASSERT_EQ(ryx_ldap_add_s(ld.get(), target.c_str(), mods), LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_add_s(ld.get(), target.c_str(), mods), LDAP_ALREADY_EXISTS);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), LDAP_ALREADY_EXISTS);
    EXPECT_EQ(values(ld.get(), target, "userCertificate;binary"), std::vector<std::string>{der});

    char* newSn[] = {const_cast<char*>("Doe"), nullptr};
    LDAPMod replace{LDAP_MOD_REPLACE, const_cast<char*>("sn"), {}};
    replace.mod_values = newSn;
    LDAPMod* changes[] = {&replace, nullptr};
    EXPECT_EQ(ryx_ldap_modify_s(ld.get(), target.c_str(), changes), LDAP_SUCCESS);
    EXPECT_EQ(values(ld.get(), target, "sn"), std::vector<std::string>{"Doe"});

    // Anonymous users may read but not write.
    RyxLdap anon = anonymous();
    EXPECT_NE(ryx_ldap_modify_s(anon.get(), target.c_str(), changes), LDAP_SUCCESS);

    EXPECT_EQ(ryx_ldap_delete_s(ld.get(), target.c_str()), LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_delete_s(ld.get(), target.c_str()), LDAP_NO_SUCH_OBJECT);
    EXPECT_TRUE(values(ld.get(), target, "cn").empty());
}

TEST_F(LdapLibTest, ModrdnHonoursDeleteOldRdn) {
    s_slapd->addEntry(dn("cn=Keep"),
                      {{"objectClass", {"person"}}, {"cn", {"Keep"}}, {"sn", {"K"}}});
    s_slapd->addEntry(dn("cn=Drop"),
                      {{"objectClass", {"person"}}, {"cn", {"Drop"}}, {"sn", {"D"}}});
    RyxLdap ld = rootBind();
    ASSERT_EQ(ryx_ldap_modrdn_s(ld.get(), dn("cn=Keep").c_str(), "cn=Kept", 0), LDAP_SUCCESS);
    std::vector<std::string> kept = values(ld.get(), dn("cn=Kept"), "cn");
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"Keep", "Kept"}));

    ASSERT_EQ(ryx_ldap_modrdn_s(ld.get(), dn("cn=Drop").c_str(), "cn=Dropped", 1), LDAP_SUCCESS);
    EXPECT_EQ(values(ld.get(), dn("cn=Dropped"), "cn"), std::vector<std::string>{"Dropped"});
    EXPECT_TRUE(values(ld.get(), dn("cn=Drop"), "cn").empty());

    EXPECT_EQ(ryx_ldap_modrdn_s(ld.get(), dn("cn=Gone").c_str(), "cn=X", 1), LDAP_NO_SUCH_OBJECT);
}

TEST(LdapLibErrors, Err2StringUsesPositiveClientNumbering) {
    EXPECT_STREQ(ryx_ldap_err2string(0), ldap_err2string(LDAP_SUCCESS));
    EXPECT_STREQ(ryx_ldap_err2string(32), ldap_err2string(LDAP_NO_SUCH_OBJECT));
    EXPECT_STREQ(ryx_ldap_err2string(49), ldap_err2string(LDAP_INVALID_CREDENTIALS));
    EXPECT_STREQ(ryx_ldap_err2string(81), ldap_err2string(LDAP_SERVER_DOWN));
    EXPECT_STREQ(ryx_ldap_err2string(91), ldap_err2string(LDAP_CONNECT_ERROR));
    EXPECT_STREQ(ryx_ldap_err2string(89), ldap_err2string(LDAP_PARAM_ERROR));
    std::set<std::string> texts;
    for (int rc = 81; rc <= 97; ++rc) {
        ASSERT_NE(ryx_ldap_err2string(rc), nullptr);
        texts.insert(ryx_ldap_err2string(rc));
    }
    EXPECT_EQ(texts.size(), 17u);
}

TEST(LdapLibErrors, NullArgumentsAreRefused) {
    LDAPMessage* res = reinterpret_cast<LDAPMessage*>(1);
    EXPECT_NE(ryx_ldap_search_st(nullptr, "", 0, "(objectClass=*)", nullptr, 0, nullptr, &res),
              LDAP_SUCCESS);
    EXPECT_EQ(res, nullptr);
    EXPECT_EQ(ryx_ldap_first_entry(nullptr, nullptr), nullptr);
    EXPECT_EQ(ryx_ldap_get_dn(nullptr, nullptr), nullptr);
    EXPECT_EQ(ryx_ldap_count_entries(nullptr, nullptr), -1);
    EXPECT_EQ(ryx_ldap_msgfree(nullptr), 0);
    ryx_ldap_memfree(nullptr);
    ryx_ldap_value_free_len(nullptr);
    ryx_ldap_ber_free(nullptr);
    ryx_ldap_free_urldesc(nullptr);
    LDAPURLDesc* desc = nullptr;
    EXPECT_NE(ryx_ldap_url_parse("not a url", &desc), LDAP_URL_SUCCESS);
    EXPECT_EQ(desc, nullptr);
}

TEST(LdapLibServerDown, SearchAfterRestartGives81) {
    LabSlapd f;
    f.start();
    int rc = -1;
    RyxLdap ld = bindTo(f.host(), f.port(), nullptr, nullptr, &rc);
    ASSERT_EQ(rc, LDAP_SUCCESS);
    LDAPMessage* raw = nullptr;
    ASSERT_EQ(ryx_ldap_search_st(ld.get(), f.suffix().c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                 nullptr, 0, nullptr, &raw),
              LDAP_SUCCESS);
    ryx_ldap_msgfree(raw);
    f.restart();
    raw = nullptr;
    EXPECT_EQ(ryx_ldap_search_st(ld.get(), f.suffix().c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                 nullptr, 0, nullptr, &raw),
              81);
    ryx_ldap_msgfree(raw);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), 81);
    ASSERT_NE(ryx_ldap_err2string(81), nullptr);
    EXPECT_STRNE(ryx_ldap_err2string(81), "");
}

TEST(LdapLibServerDown, DeadPortFailsWithServerDownOrConnectError) {
    const int dead = closedLoopbackPort();
    RyxLdap ld(ryx_ldap_init("127.0.0.1", dead));
    ASSERT_NE(ld, nullptr);
    const int rc = ryx_ldap_simple_bind_s(ld.get(), nullptr, nullptr);
    EXPECT_TRUE(rc == 81 || rc == 91) << rc;
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), rc);
    LDAPMessage* raw = nullptr;
    const int src = ryx_ldap_search_st(ld.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)", nullptr, 0,
                                       nullptr, &raw);
    ryx_ldap_msgfree(raw);
    EXPECT_TRUE(src == 81 || src == 91) << src;
}

TEST(LdapLibServerDown, HostListFailsOverToTheNextHost) {
    LabSlapd f;
    f.start();
    const std::string hosts = "127.0.0.1:" + std::to_string(closedLoopbackPort()) + "  127.0.0.1";
    RyxLdap ld(ryx_ldap_init(hosts.c_str(), f.port()));
    ASSERT_NE(ld, nullptr);
    EXPECT_EQ(ryx_ldap_simple_bind_s(ld.get(), f.rootDN().c_str(), f.rootPassword().c_str()),
              LDAP_SUCCESS);
}

// URL searches, with the primary connection pointed at a dead port so that
// any success proves which connection served the URL.
class LdapUrlTest : public LdapLibTest {};

TEST_F(LdapUrlTest, UrlNamingHostAndPortUsesItsOwnConnection) {
    RyxLdap ld(ryx_ldap_init("127.0.0.1", closedLoopbackPort()));
    ASSERT_NE(ld, nullptr);
    const std::string url = s_slapd->url() + "/" + dn("cn=CA1") + "?cACertificate,cn?base";
    LDAPMessage* raw = nullptr;
    ASSERT_EQ(ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &raw), LDAP_SUCCESS);
    RyxMessage res(raw);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), LDAP_SUCCESS);
    // The message came from another connection; the walk takes the primary.
    ASSERT_EQ(ryx_ldap_count_entries(ld.get(), res.get()), 1);
    LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(dnOf(ld.get(), e), dn("cn=CA1"));
    std::vector<std::string> names = attributesOf(ld.get(), e);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"cACertificate;binary", "cn"}));
    EXPECT_EQ(valuesOf(ld.get(), e, "cACertificate;binary"), std::vector<std::string>{kDer});
    EXPECT_EQ(ryx_ldap_next_entry(ld.get(), e), nullptr);

    // Missing entry on the named server.
    raw = nullptr;
    const std::string missing = s_slapd->url() + "/" + dn("cn=none");
    EXPECT_EQ(ryx_ldap_url_search_st(ld.get(), missing.c_str(), 0, nullptr, &raw),
              LDAP_NO_SUCH_OBJECT);
    ryx_ldap_msgfree(raw);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), LDAP_NO_SUCH_OBJECT);
}

TEST_F(LdapUrlTest, UrlWithoutHostSearchesTheGivenConnection) {
    RyxLdap ld = anonymous();
    const std::string url = "ldap:///" + dn("ou=people") + "??one?(cn=B*)";
    LDAPMessage* raw = nullptr;
    ASSERT_EQ(ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &raw), LDAP_SUCCESS);
    RyxMessage res(raw);
    ASSERT_EQ(ryx_ldap_count_entries(ld.get(), res.get()), 1);
    EXPECT_EQ(dnOf(ld.get(), ryx_ldap_first_entry(ld.get(), res.get())), dn("cn=Ben,ou=people"));

    // Default scope (base) and filter.
    raw = nullptr;
    const std::string plain = "ldap:///" + dn("ou=people");
    ASSERT_EQ(ryx_ldap_url_search_st(ld.get(), plain.c_str(), 0, nullptr, &raw), LDAP_SUCCESS);
    RyxMessage one(raw);
    EXPECT_EQ(ryx_ldap_count_entries(ld.get(), one.get()), 1);

    // The primary is not connected anywhere useful: a host-less URL fails there.
    RyxLdap dead(ryx_ldap_init("127.0.0.1", closedLoopbackPort()));
    raw = nullptr;
    const int rc = ryx_ldap_url_search_st(dead.get(), plain.c_str(), 0, nullptr, &raw);
    ryx_ldap_msgfree(raw);
    EXPECT_TRUE(rc == 81 || rc == 91) << rc;

    raw = nullptr;
    EXPECT_EQ(ryx_ldap_url_search_st(ld.get(), "definitely not a url", 0, nullptr, &raw), 89);
    EXPECT_EQ(raw, nullptr);
}

TEST(LdapUrlReuse, SecondUrlToTheSameServerReusesTheConnection) {
    LabSlapd f;
    f.start();
    RyxLdap ld(ryx_ldap_init("127.0.0.1", closedLoopbackPort()));
    ASSERT_NE(ld, nullptr);
    const std::string url = f.url() + "/" + f.suffix();
    auto searchUrl = [&] {
        LDAPMessage* raw = nullptr;
        int rc = ryx_ldap_url_search_st(ld.get(), url.c_str(), 0, nullptr, &raw);
        ryx_ldap_msgfree(raw);
        return rc;
    };
    EXPECT_EQ(searchUrl(), LDAP_SUCCESS);
    EXPECT_EQ(searchUrl(), LDAP_SUCCESS);
    // A kept connection goes stale when its server restarts: the next URL
    // search sees the server down, and the one after that connects afresh.
    f.restart();
    EXPECT_EQ(searchUrl(), 81);
    EXPECT_EQ(ryx_ldap_get_errno(ld.get()), 81);
    EXPECT_EQ(searchUrl(), LDAP_SUCCESS);
}

}  // namespace
