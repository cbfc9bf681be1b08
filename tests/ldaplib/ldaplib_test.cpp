// The toolkit LDAP library against real slapds, through its ryx_ functions:
// what it adds to OpenLDAP's client library (positive client codes, ";binary"
// folding, the default host on the given port, URL searches on connections of
// their own, TLS), and the slapd fixture's clean-up.
// Binds, searches and writes themselves are seen through the plug-in's client.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "cases.h"
#include "fakeserver.h"
#include "labpki.h"
#include "labslapd.h"
#include "ldaptestutil.h"
#include "ryxldapconfig.h"
#include "ryxldapdiag.h"

namespace {

using Strings = std::vector<std::string>;

const std::string& der() {
    static const labpki::Bytes b = labpki::Authority::root("cn=Test CA").certificateDER();
    static const std::string d(b.begin(), b.end());
    return d;
}

// A base search of dn for the attributes (all when none).
int search(LDAP* ld, const std::string& dn, RyxMessage* res = nullptr,
           std::vector<const char*> attrs = {}) {
    LDAPMessage* raw = nullptr;
    attrs.push_back(nullptr);
    const int rc = ryx_ldap_search_st(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                      const_cast<char**>(attrs.data()), 0, nullptr, &raw);
    RyxMessage owned(raw);
    if (res != nullptr)
        *res = std::move(owned);
    return rc;
}

int searchUrl(LDAP* ld, const std::string& url, RyxMessage* res = nullptr) {
    LDAPMessage* raw = nullptr;
    const int rc = ryx_ldap_url_search_st(ld, url.c_str(), 0, nullptr, &raw);
    RyxMessage owned(raw);
    if (res != nullptr)
        *res = std::move(owned);
    return rc;
}

// The fixture's own promise: no server or folder outlives it. (What it loads
// and how it restarts, every directory test relies on.)
TEST(LabSlapdTest, StopsAndLeavesNothingBehind) {
    pid_t pid = -1;
    std::string dir;
    {
        LabSlapd f;
        f.start();
        f.stop();
        f.stop();
        EXPECT_FALSE(f.running());
        f.start();
        pid = f.pid();
        dir = f.directory();
        ASSERT_EQ(::kill(pid, 0), 0);
    }
    EXPECT_NE(::kill(pid, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(dir));
}

// One stock-schema server with a CA entry whose certificate is stored under
// "cACertificate;binary".
class LdapLibTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = std::make_unique<LabSlapd>(LabSlapd::Schema::Stock);
        s_slapd->start();
        s_slapd->addEntry(caDN(), {{"objectClass", {"applicationProcess", "pkiCA"}},
                                   {"cn", {"CA1"}},
                                   {"description", {"first CA"}},
                                   {"cACertificate;binary", {der()}}});
    }
    static void TearDownTestSuite() { s_slapd.reset(); }
    static std::string caDN() { return "cn=CA1," + s_slapd->suffix(); }
    static RyxLdap connect() { return RyxLdap(ryx_ldap_init("127.0.0.1", s_slapd->port())); }

    static inline std::unique_ptr<LabSlapd> s_slapd;
};

TEST_F(LdapLibTest, BinaryNamesFoldOnlyForPlainRequests) {
    const struct {
        const char* fold;
        const char* asked;
        const char* alsoAsked;
        const char* reported;  // the one attribute name the walk gives
        const char* lookup;    // a name for ryx_ldap_get_values_len
        size_t values;
    } rows[] = {
        {"0", "cACertificate", nullptr, "cACertificate;binary", "cACertificate", 0},
        {"1", "CACERTIFICATE", nullptr, "cACertificate", "cacertificate", 1},
        {"1", "cACertificate", "cACertificate;binary", "cACertificate;binary", "cACertificate", 0},
    };
    for (const auto& r : rows) {
        ::setenv("RYX_LDAP_FOLD_BINARY", r.fold, 1);
        RyxLdap ld = connect();
        RyxMessage res;
        ASSERT_EQ(search(ld.get(), caDN(), &res, {r.asked, r.alsoAsked}), LDAP_SUCCESS);
        LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
        EXPECT_EQ(attributesOf(ld.get(), e), Strings{r.reported}) << r.fold << " " << r.asked;
        EXPECT_EQ(valuesOf(ld.get(), e, r.lookup).size(), r.values) << r.fold << " " << r.asked;
    }
    ::unsetenv("RYX_LDAP_FOLD_BINARY");
}

// The program's settings win over the variables, and a refused StartTLS under
// "try" is told to the program, naming the server.
TEST_F(LdapLibTest, ConfiguredSettingsWinOverTheEnvironment) {
    struct Notices {
        static void add(void* arg, const char* text) {
            static_cast<Strings*>(arg)->push_back(text);
        }
    };
    Strings notices;
    ::setenv("RYX_LDAP_FOLD_BINARY", "0", 1);
    ::setenv("RYX_LDAP_STARTTLS", "require", 1);
    ryx_ldap_config c{};
    c.size = sizeof c;
    c.set = RYX_LDAP_SET_FOLD_BINARY | RYX_LDAP_SET_STARTTLS | RYX_LDAP_SET_NOTICE;
    c.fold_binary = 1;
    c.starttls = RYX_LDAP_STARTTLS_TRY;
    c.notice = &Notices::add;
    c.notice_arg = &notices;
    ASSERT_EQ(ryx_ldap_configure(&c), 0);
    {
        RyxLdap ld = connect();
        RyxMessage res;
        ASSERT_EQ(search(ld.get(), caDN(), &res, {"cACertificate"}), LDAP_SUCCESS);
        EXPECT_EQ(attributesOf(ld.get(), ryx_ldap_first_entry(ld.get(), res.get())),
                  Strings{"cACertificate"});
    }
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_THAT(notices[0],
                ::testing::StartsWith("ldap://127.0.0.1:" + std::to_string(s_slapd->port()) +
                                      ": the server refused StartTLS"));
    c.set = 0;  // back to the variables: StartTLS required
    ASSERT_EQ(ryx_ldap_configure(&c), 0);
    EXPECT_EQ(search(connect().get(), caDN()), 91);
    ::unsetenv("RYX_LDAP_FOLD_BINARY");
    ::unsetenv("RYX_LDAP_STARTTLS");
}

// The default server as OpenLDAP's tools find it, and where it came from: the
// cases of ldapconf.tsv, each in a fresh folder as HOME and working folder.
TEST_F(LdapLibTest, DefaultServerFollowsOpenLdapsOrder) {
    const std::string base = ::testing::TempDir() + "/ldapconf",
                      port = std::to_string(s_slapd->port());
    const auto expand = [&](std::string text) {
        for (const auto& [from, to] : {std::pair<std::string, std::string>{"$live", s_slapd->url()},
                                       {"$dead", "ldap://127.0.0.1:1"},
                                       {"$port", port},
                                       {"@", base}})
            for (size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
        return text;
    };
    const auto pairs = [&](const std::string& list) {  // NAME=VALUE|...
        std::vector<std::pair<std::string, std::string>> out;
        std::istringstream in(expand(list));
        for (std::string p; std::getline(in, p, '|');)
            out.emplace_back(p.substr(0, p.find('=')), p.substr(p.find('=') + 1));
        return out;
    };
    char before[4096];
    ASSERT_NE(::getcwd(before, sizeof before), nullptr);
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const Case& c : casesOf("ldapconf.tsv", 6)) {
        std::filesystem::remove_all(base);
        std::filesystem::create_directories(base + "/home");
        std::filesystem::create_directories(base + "/cwd");
        for (const auto& [path, text] : pairs(c[1]))
            std::ofstream(base + "/" + path) << text << "\n";
        ::setenv("HOME", (base + "/home").c_str(), 1);
        ASSERT_EQ(::chdir((base + "/cwd").c_str()), 0);
        for (const auto& [name, value] : pairs(c[2]))
            ::setenv(name.c_str(), value.c_str(), 1);
        char *value = nullptr, *origin = nullptr;
        const int rc = ryx_ldap_conf_option(c[3].c_str(), &value, &origin);
        const ryx::UniquePtr<char, ryx::RyxMemfree> ownValue(value), ownOrigin(origin);
        for (const auto& [name, unused] : pairs(c[2]))
            ::unsetenv(name.c_str());
        EXPECT_EQ(rc, c[4].empty() ? 1 : 0) << c[0];
        EXPECT_EQ(value != nullptr ? value : "", expand(c[4])) << c[0];
        EXPECT_EQ(origin != nullptr ? origin : "", expand(c[5])) << c[0];
        if (c[3] == "URI" && rc == 0) {
            EXPECT_EQ(search(RyxLdap(ryx_ldap_init(value, 0)).get(), caDN()), LDAP_SUCCESS) << c[0];
        }
    }
    ::setenv("HOME", home.c_str(), 1);
    ASSERT_EQ(::chdir(before), 0);
    std::filesystem::remove_all(base);
}

TEST_F(LdapLibTest, NoHostMeansTheDefaultHostOnTheGivenPort) {
    // OpenLDAP's default host list carries its own port: the port asked for wins.
    for (const char* host : {static_cast<const char*>(nullptr), " \t"}) {
        RyxLdap ld(ryx_ldap_init(host, s_slapd->port()));
        EXPECT_EQ(search(ld.get(), caDN()), LDAP_SUCCESS) << !host;
    }
}

TEST_F(LdapLibTest, ClientCodesArePositive) {
    for (int rc = 81; rc <= 97; ++rc) {
        EXPECT_THAT(ryx_ldap_err2string(rc), ::testing::StartsWith(ldap_err2string(80 - rc)));
    }
}

// From a connection whose own server is dead: a URL that names a server is
// searched on a connection of its own, one without a host on the connection
// given.
TEST_F(LdapLibTest, UrlSearches) {
    RyxLdap dead(ryx_ldap_init("127.0.0.1", 1)), live = connect();
    const std::string path = "/" + caDN() + "?cACertificate,description?base";
    RyxMessage res;
    ASSERT_EQ(searchUrl(dead.get(), s_slapd->url() + path, &res), LDAP_SUCCESS);
    EXPECT_EQ(ryx_ldap_get_errno(dead.get()), LDAP_SUCCESS);
    // The message came from another connection; the walk takes the primary.
    ASSERT_EQ(ryx_ldap_count_entries(dead.get(), res.get()), 1);
    LDAPMessage* e = ryx_ldap_first_entry(dead.get(), res.get());
    EXPECT_EQ(valuesOf(dead.get(), e, "cACertificate;binary"), Strings{der()});
    EXPECT_EQ(valuesOf(dead.get(), e, "description"), Strings{"first CA"});

    const struct {
        LDAP* ld;
        std::string url;
        int rc;
    } rows[] = {
        {dead.get(), s_slapd->url() + "/cn=none," + s_slapd->suffix(), LDAP_NO_SUCH_OBJECT},
        {live.get(), "ldap://" + path, LDAP_SUCCESS},
        {dead.get(), "ldap://" + path, 81},
    };
    for (const auto& row : rows) {
        RyxMessage out;
        EXPECT_EQ(searchUrl(row.ld, row.url, &out), row.rc) << row.url;
        EXPECT_EQ(ryx_ldap_get_errno(row.ld), row.rc) << row.url;
        // A server's answer comes with its result message, as from OpenLDAP.
        EXPECT_EQ(out != nullptr, row.rc < 80) << row.url;  // 80 and up: the client's
    }
}

// A slapd with TLS whose certificate the CA made, valid from notBefore to
// notAfter seconds from now for the subject alternative name san.
std::unique_ptr<LabSlapd> tlsSlapd(const labpki::Authority& ca, const std::string& spec) {
    long notBefore = 0, notAfter = 0;
    labpki::CertOptions options;
    options.serial = 2;
    options.subjectAltNames = {""};
    std::istringstream(spec) >> notBefore >> notAfter >> options.subjectAltNames[0];
    options.notBefore = labpki::fromNow(notBefore);
    options.notAfter = labpki::fromNow(notAfter);
    const labpki::KeyPtr key = labpki::makeKey();
    auto slapd = std::make_unique<LabSlapd>();
    slapd->enableTls(labpki::certificatePEM(ca.issue("cn=server,o=Lab", options, key.get())),
                     labpki::privateKeyPEM(key.get()));
    slapd->start();
    return slapd;
}

// The cases of tls.tsv: each failure names its reason.
TEST_F(LdapLibTest, Tls) {
    const labpki::Authority ca = labpki::Authority::root("cn=Lab TLS CA,o=Lab");
    const std::string caFile = ::testing::TempDir() + "/tls-ca-";
    std::ofstream(caFile + "right") << labpki::certificatePEM(ca.certificateDER());
    std::ofstream(caFile + "wrong")
        << labpki::certificatePEM(labpki::Authority::root("cn=Other CA,o=Lab").certificateDER());
    char machine[256] = "";
    ::gethostname(machine, sizeof machine - 1);
    const auto expand = [&](std::string text) {
        for (const auto& [from, to] :
             {std::pair<std::string, std::string>{"$cert",
                                                  "Connect error (TLS: the server's certificate "},
              {"$machine", machine}})
            for (size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, from.size(), to);
        return text;
    };
    std::map<std::string, std::unique_ptr<LabSlapd>> slapds;
    const FakeServer refusing(FakeServer::Mode::RefuseTls);
    for (const Case& c : casesOf("tls.tsv", 7)) {
        std::unique_ptr<LabSlapd>& slapd = slapds[c[0]];
        if (slapd == nullptr && c[0] != "plain" && c[0] != "refuse")
            slapd = tlsSlapd(ca, c[0]);
        const LabSlapd& server = slapd != nullptr ? *slapd : *s_slapd;
        const int port = c[0] == "refuse"  ? refusing.port()
                         : c[1] == "ldaps" ? server.tlsPort()
                                           : server.port();
        const std::string host =
            c[0].find("localhost") != std::string::npos ? "localhost" : "127.0.0.1";
        const std::string url = c[1] + "://" + host + ":" + std::to_string(port);
        // OpenLDAP's own way to change the CA file of later connections.
        ASSERT_EQ(ryx_ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, (caFile + c[3]).c_str()),
                  0);
        const int client = 0;
        ASSERT_EQ(ryx_ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client), 0);
        ::setenv("RYX_LDAP_STARTTLS", c[2].c_str(), 1);
        RyxLdap ld(ryx_ldap_init(url.c_str(), 0));
        const std::string label = url + " " + c[2] + " " + c[0];
        const int rc = ryx_ldap_simple_bind_s(ld.get(), server.rootDN().c_str(),
                                              server.rootPassword().c_str());
        EXPECT_EQ(rc, std::stoi(c[4])) << label;
        EXPECT_THAT(ryx_ldap_err2string(rc), ::testing::StartsWith(expand(c[5]))) << label;
        EXPECT_THAT(ryx_ldap_err2string(rc), ::testing::HasSubstr(c[6])) << label;
        if (rc == LDAP_SUCCESS) {
            EXPECT_EQ(search(ld.get(), server.suffix()), LDAP_SUCCESS) << label;
        }
    }
    ::unsetenv("RYX_LDAP_STARTTLS");
}

// A kept URL connection whose server restarted reports server down (81) once:
// the next URL search connects afresh. (The primary connection's loss is seen
// through the plug-in's retry.)
TEST_F(LdapLibTest, RestartedServerIsReportedDown) {
    RyxLdap dead(ryx_ldap_init("127.0.0.1", 1));
    const std::string url = s_slapd->url() + "/" + caDN() + "?description";
    EXPECT_EQ(searchUrl(dead.get(), url), LDAP_SUCCESS);
    EXPECT_EQ(searchUrl(dead.get(), url), LDAP_SUCCESS);
    s_slapd->restart();
    EXPECT_EQ(searchUrl(dead.get(), url), 81);
    EXPECT_EQ(ryx_ldap_get_errno(dead.get()), 81);
    EXPECT_EQ(searchUrl(dead.get(), url), LDAP_SUCCESS);
}

// The last search that failed or found nothing, as ryx_ldap_last_miss tells it
// (a search that finds an entry clears it, a later failure replaces it).
TEST_F(LdapLibTest, LastMissNamesBaseAndMatchedDn) {
    RyxLdap live = connect(), dead(ryx_ldap_init("127.0.0.1", 1));
    const std::string under = "cn=Nobody," + s_slapd->suffix();
    const struct {
        LDAP* ld;
        std::string base;
        int missed, code;
        std::string matched;
    } rows[] = {
        {live.get(), under, 1, LDAP_NO_SUCH_OBJECT, s_slapd->suffix()},
        {dead.get(), under, 1, 81, ""},
        {live.get(), "cn=X,o=Nowhere", 1, LDAP_NO_SUCH_OBJECT, ""},
        {dead.get(), "o=Closed", 1, 81, ""},  // a closed handle, no search at all
        {live.get(), caDN(), 0, 0, ""},
    };
    for (const auto& r : rows) {
        search(r.ld, r.base);
        int code = -1;
        const char *base = nullptr, *matched = nullptr;
        ASSERT_EQ(ryx_ldap_last_miss(&code, &base, &matched), r.missed) << r.base;
        if (r.missed == 1) {
            EXPECT_EQ(code, r.code) << r.base;
            EXPECT_EQ(base, r.base);
            EXPECT_EQ(matched, r.matched) << r.base;
        }
    }
}

// The progress callback sees the bytes of a large answer as they come, and a
// new search counts from 0.
TEST_F(LdapLibTest, ProgressCountsTheBytesOfASearch) {
    const std::string dn = "cn=Big," + s_slapd->suffix();
    const size_t size = 2000000;
    s_slapd->addEntry(dn, {{"objectClass", {"applicationProcess"}},
                           {"cn", {"Big"}},
                           {"description", {std::string(size, 'x')}}});
    struct Seen {
        unsigned long long calls = 0, last = 0, ends = 0;
    } seen;
    ryx_ldap_set_progress(
        [](unsigned long long received, int ended, void* arg) {
            Seen* s = static_cast<Seen*>(arg);
            ++s->calls;
            s->last = received;
            s->ends += ended;
        },
        &seen);
    RyxLdap ld = connect();
    ASSERT_EQ(search(ld.get(), dn), LDAP_SUCCESS);
    EXPECT_GE(seen.last, size);
    EXPECT_GT(seen.calls, 2u);  // while it arrives, not only at the end
    EXPECT_EQ(seen.ends, 1u);
    ASSERT_EQ(search(ld.get(), caDN()), LDAP_SUCCESS);
    EXPECT_LT(seen.last, size / 10);
    ryx_ldap_set_progress(nullptr, nullptr);
    const unsigned long long calls = seen.calls;
    ASSERT_EQ(search(ld.get(), dn), LDAP_SUCCESS);
    EXPECT_EQ(seen.calls, calls);
}

}  // namespace
