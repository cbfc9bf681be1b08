// What the toolkit LDAP library adds to OpenLDAP's client library, against real
// slapds: positive client codes, ";binary" folding, the default host, URL
// searches on connections of their own, TLS, the last miss and progress; and the
// slapd fixture's clean-up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "fakeserver.h"
#include "labpki.h"
#include "labslapd.h"
#include "ldaptestutil.h"
#include "ryxldapconfig.h"
#include "ryxldapdiag.h"

namespace {

using Strings = std::vector<std::string>;

// A search of target, a URL or a DN at base scope for the attributes
// (separated by spaces; all when none): its code and result.
std::pair<int, RyxMessage> search(LDAP* ld, const std::string& target,
                                  const std::string& attrs = "") {
    std::istringstream in(attrs);
    Strings names{std::istream_iterator<std::string>(in), {}};
    std::vector<char*> list;
    for (std::string& a : names)
        list.push_back(a.data());
    list.push_back(nullptr);
    LDAPMessage* raw = nullptr;
    const int rc = target.rfind("ldap", 0) == 0
                       ? ryx_ldap_url_search_st(ld, target.c_str(), 0, nullptr, &raw)
                       : ryx_ldap_search_st(ld, target.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                            list.data(), 0, nullptr, &raw);
    return {rc, RyxMessage(raw)};
}

// One stock-schema server with a CA entry whose certificate is stored under
// "cACertificate;binary".
class LdapLibTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const labpki::Bytes der = labpki::Authority::root("cn=Test CA").certificateDER();
        s_slapd = std::make_unique<LabSlapd>(LabSlapd::Schema::Stock);
        s_slapd->start();
        s_slapd->addEntry(caDN(),
                          {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"CA1"}},
                           {"description", {"first CA"}},
                           {"cACertificate;binary", {std::string(der.begin(), der.end())}}});
    }
    // The fixture's own promise, which every directory test relies on: no server
    // or folder outlives it (after a restart, too).
    static void TearDownTestSuite() {
        const pid_t pid = s_slapd->pid();
        const std::string dir = s_slapd->directory();
        s_slapd.reset();
        EXPECT_NE(::kill(pid, 0), 0);
        EXPECT_FALSE(std::filesystem::exists(dir));
    }
    static std::string caDN() { return "cn=CA1," + s_slapd->suffix(); }
    static RyxLdap connect() { return RyxLdap(ryx_ldap_init("127.0.0.1", s_slapd->port())); }

    static inline std::unique_ptr<LabSlapd> s_slapd;
};

// ";binary" names fold to the plain name only where that alone was asked for:
// the cases of fold.tsv.
TEST_F(LdapLibTest, BinaryNamesFoldOnlyForPlainRequests) {
    for (const Case& c : casesOf("fold.tsv", 6)) {
        ::setenv(RYX_LDAP_FOLD_BINARY_VARIABLE, c[0].c_str(), 1);
        ryx_ldap_config config{};
        config.size = sizeof config;
        config.set = c[1].empty() ? 0 : RYX_LDAP_SET_FOLD_BINARY;
        config.fold_binary = c[1] == "1";
        ASSERT_EQ(ryx_ldap_configure(&config), 0);
        RyxLdap ld = connect();
        const auto [rc, res] = search(ld.get(), caDN(), c[2]);
        ASSERT_EQ(rc, LDAP_SUCCESS);
        LDAPMessage* e = ryx_ldap_first_entry(ld.get(), res.get());
        EXPECT_EQ(attributesOf(ld.get(), e), Strings{c[3]}) << c[0] << " " << c[1] << " " << c[2];
        EXPECT_EQ(std::to_string(valuesOf(ld.get(), e, c[4].c_str()).size()), c[5]) << c[2];
    }
    ::unsetenv(RYX_LDAP_FOLD_BINARY_VARIABLE);
}

// The program's StartTLS setting wins over the variable, and a refused StartTLS
// under "try" is told to the program, naming the server.
TEST_F(LdapLibTest, RefusedStartTlsUnderTryIsToldToTheProgram) {
    Strings notices;
    ::setenv("RYX_LDAP_STARTTLS", "require", 1);
    ryx_ldap_config c{};
    c.size = sizeof c;
    c.set = RYX_LDAP_SET_STARTTLS | RYX_LDAP_SET_NOTICE;
    c.starttls = RYX_LDAP_STARTTLS_TRY;
    c.notice = [](void* arg, const char* text) { static_cast<Strings*>(arg)->push_back(text); };
    c.notice_arg = &notices;
    ASSERT_EQ(ryx_ldap_configure(&c), 0);
    EXPECT_EQ(search(connect().get(), caDN()).first, LDAP_SUCCESS);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_THAT(notices[0],
                ::testing::StartsWith(s_slapd->url() + ": the server refused StartTLS"));
    c.set = 0;  // back to the variables (the Tls cases need it)
    ASSERT_EQ(ryx_ldap_configure(&c), 0);
    ::unsetenv("RYX_LDAP_STARTTLS");
}

// The default server as OpenLDAP's tools find it, and where it came from: the
// cases of ldapconf.tsv, each in a fresh folder as HOME and working folder.
TEST_F(LdapLibTest, DefaultServerFollowsOpenLdapsOrder) {
    const std::string base = ::testing::TempDir() + "/ldapconf",
                      port = std::to_string(s_slapd->port());
    const auto expand = [&](const std::string& text) {
        return expanded(text, {{"$live", s_slapd->url()},
                               {"$dead", "ldap://127.0.0.1:1"},
                               {"$port", port},
                               {"@", base}});
    };
    const auto pairs = [&](const std::string& list) {  // NAME=VALUE|...
        std::vector<std::pair<std::string, std::string>> out;
        std::istringstream in(expand(list));
        for (std::string p; std::getline(in, p, '|');)
            out.emplace_back(p.substr(0, p.find('=')), p.substr(p.find('=') + 1));
        return out;
    };
    const std::filesystem::path before = std::filesystem::current_path();
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    for (const Case& c : casesOf("ldapconf.tsv", 6)) {
        std::filesystem::remove_all(base);
        for (const char* folder : {"/home", "/cwd"})
            std::filesystem::create_directories(base + folder);
        for (const auto& [path, text] : pairs(c[1]))
            std::ofstream(base + "/" + path) << text << "\n";
        ::setenv("HOME", (base + "/home").c_str(), 1);
        std::filesystem::current_path(base + "/cwd");
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
            EXPECT_EQ(search(RyxLdap(ryx_ldap_init(value, 0)).get(), caDN()).first, LDAP_SUCCESS)
                << c[0];
        }
    }
    ::setenv("HOME", home.c_str(), 1);
    std::filesystem::current_path(before);
    std::filesystem::remove_all(base);
}

TEST_F(LdapLibTest, ClientCodesArePositive) {
    for (int rc = 81; rc <= 97; ++rc) {
        EXPECT_THAT(ryx_ldap_err2string(rc), ::testing::StartsWith(ldap_err2string(80 - rc)));
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
    const auto expand = [&](const std::string& text) {
        return expanded(text, {{"$cert", "Connect error (TLS: the server's certificate "},
                               {"$machine", machine}});
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
            EXPECT_EQ(search(ld.get(), server.suffix()).first, LDAP_SUCCESS) << label;
        }
    }
    ::unsetenv("RYX_LDAP_STARTTLS");
}

// The searches of searches.tsv in turn: each one's code (also the handle's),
// its result message (a server's answer comes with one, as from OpenLDAP; the
// client's codes, 80 and up, without), the last miss it leaves and what it found.
TEST_F(LdapLibTest, SearchesAndTheirMisses) {
    std::map<std::string, RyxLdap> handles;
    handles["live"] = connect();
    handles["dead"] = RyxLdap(ryx_ldap_init("127.0.0.1", 1));
    handles["other"] = RyxLdap(ryx_ldap_init("127.0.0.1", 1));
    handles["no host"] = RyxLdap(ryx_ldap_init(nullptr, s_slapd->port()));
    handles["blank"] = RyxLdap(ryx_ldap_init(" \t", s_slapd->port()));
    const std::vector<std::pair<std::string, std::string>> vars = {
        {"$url", s_slapd->url()}, {"$suffix", s_slapd->suffix()}, {"$ca", caDN()}};
    for (const Case& c : casesOf("searches.tsv", 5)) {
        LDAP* ld = handles.at(c[0]).get();
        const std::string target = expanded(c[1], vars);
        if (target == "restart") {
            s_slapd->restart();
            continue;
        }
        const auto [rc, res] = search(ld, target);
        EXPECT_EQ(rc, std::stoi(c[2])) << c[1];
        EXPECT_EQ(ryx_ldap_get_errno(ld), rc) << c[1];
        EXPECT_EQ(res != nullptr, rc < 80) << c[1];
        int code = -1;
        const char *base = "", *matched = "";
        const int missed = ryx_ldap_last_miss(&code, &base, &matched);
        if (c[3] != "?") {
            EXPECT_EQ(missed == 0 ? "-" : std::to_string(code) + "|" + base + "|" + matched,
                      expanded(c[3], vars))
                << c[1];
        }
        const Strings found = valuesOf(ld, ryx_ldap_first_entry(ld, res.get()), "description");
        EXPECT_EQ(found, c[4] == "-" ? Strings{} : Strings{c[4]}) << c[1];
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
    ASSERT_EQ(search(ld.get(), dn).first, LDAP_SUCCESS);
    EXPECT_GE(seen.last, size);
    EXPECT_GT(seen.calls, 2u);  // while it arrives, not only at the end
    EXPECT_EQ(seen.ends, 1u);
    ASSERT_EQ(search(ld.get(), caDN()).first, LDAP_SUCCESS);
    EXPECT_LT(seen.last, size / 10);
    ryx_ldap_set_progress(nullptr, nullptr);
    const unsigned long long calls = seen.calls;
    ASSERT_EQ(search(ld.get(), dn).first, LDAP_SUCCESS);
    EXPECT_EQ(seen.calls, calls);
}

}  // namespace
