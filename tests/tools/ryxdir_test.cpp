// The ryxdir tool run as a user runs it, against a real slapd holding a CA
// entry with its certificate, CRL and ARL.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"

extern char** environ;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class RyxdirTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Octet-string schema: certificates come back under the plain attribute
        // name, where the manager collects them.
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString);
        s_slapd->start();
        s_ca = new labpki::Authority(labpki::Authority::root("cn=Root CA,dc=example,dc=com"));
        labpki::CrlOptions crl;
        crl.revokedCount = 3;
        s_crl = new labpki::Bytes(s_ca->crl(crl));
        s_arl = new labpki::Bytes(s_ca->arl());
        const labpki::Bytes cert = s_ca->certificateDER();
        auto bytes = [](const labpki::Bytes& b) { return std::string(b.begin(), b.end()); };
        s_slapd->addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"Root CA"}},
                                  {"cACertificate", {bytes(cert)}},
                                  {"certificateRevocationList", {bytes(*s_crl)}},
                                  {"authorityRevocationList", {bytes(*s_arl)}}});
        s_dir = s_slapd->directory() + "/ryxdir";
        ASSERT_EQ(::mkdir(s_dir.c_str(), 0700), 0);
    }
    static void TearDownTestSuite() {
        delete s_arl;
        delete s_crl;
        delete s_ca;
        delete s_slapd;
    }

    // Runs ryxdir with the server options first, then args; extra environment
    // settings come on top of the test's own.
    Result run(std::vector<std::string> args, bool server = true,
               const std::vector<std::string>& env = {}) {
        std::vector<std::string> argv{RYXDIR_PATH};
        if (server) {
            std::vector<std::string> s{"-H", s_slapd->host(), "-p",
                                       std::to_string(s_slapd->port())};
            argv.insert(argv.end(), s.begin(), s.end());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(&a[0]);
        cargv.push_back(nullptr);
        std::vector<std::string> envs;
        for (char** e = environ; *e != nullptr; ++e)
            envs.emplace_back(*e);
        envs.insert(envs.end(), env.begin(), env.end());
        std::vector<char*> cenv;
        for (auto& e : envs)
            cenv.push_back(&e[0]);
        cenv.push_back(nullptr);

        const std::string out = s_dir + "/stdout", err = s_dir + "/stderr";
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        Result r;
        int rc = posix_spawn(&pid, cargv[0], &fa, nullptr, cargv.data(), cenv.data());
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << cargv[0];
            return r;
        }
        int wstatus = 0;
        ::waitpid(pid, &wstatus, 0);
        r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        r.out = readFile(out);
        r.err = readFile(err);
        return r;
    }

    static constexpr const char* kCaDN = "cn=Root CA,dc=example,dc=com";
    static LabSlapd* s_slapd;
    static labpki::Authority* s_ca;
    static labpki::Bytes* s_crl;
    static labpki::Bytes* s_arl;
    static std::string s_dir;
};

LabSlapd* RyxdirTest::s_slapd = nullptr;
labpki::Authority* RyxdirTest::s_ca = nullptr;
labpki::Bytes* RyxdirTest::s_crl = nullptr;
labpki::Bytes* RyxdirTest::s_arl = nullptr;
std::string RyxdirTest::s_dir;

TEST_F(RyxdirTest, FetchesEachKindInEachFormat) {
    // CA certificate as PEM: the very bytes stored.
    Result ca = run({"ca", kCaDN});
    ASSERT_EQ(ca.status, 0) << ca.err;
    EXPECT_EQ(labpki::fromPEM(ca.out), s_ca->certificateDER());
    EXPECT_EQ(ca.err, "");

    // CRL as text: one line with issuer and revoked count.
    Result crl = run({"-f", "text", "crl", kCaDN});
    ASSERT_EQ(crl.status, 0) << crl.err;
    EXPECT_EQ(crl.out.rfind("crl 0: issuer=CN=Root CA,DC=example,DC=com thisUpdate=", 0), 0u)
        << crl.out;
    EXPECT_NE(crl.out.find(" revoked=3\n"), std::string::npos) << crl.out;

    // ARLs come first, then the CRLs of the same issuer; as DER files.
    const std::string outDir = s_dir + "/der";
    ASSERT_EQ(::mkdir(outDir.c_str(), 0700), 0);
    Result arl = run({"-f", "der", "-o", outDir, "arl", kCaDN});
    ASSERT_EQ(arl.status, 0) << arl.err;
    EXPECT_EQ(arl.out, outDir + "/crl-0.der\n" + outDir + "/crl-1.der\n");
    const std::string arlFile = readFile(outDir + "/crl-0.der");
    const std::string crlFile = readFile(outDir + "/crl-1.der");
    EXPECT_EQ(labpki::Bytes(arlFile.begin(), arlFile.end()), *s_arl);
    EXPECT_EQ(labpki::Bytes(crlFile.begin(), crlFile.end()), *s_crl);

    // By URL, with the host in it and the attribute asked for.
    Result url = run({"-H", "URI", "-f", "text", "url",
                      s_slapd->url() + "/" + kCaDN + "?certificateRevocationList"},
                     false);
    ASSERT_EQ(url.status, 0) << url.err;
    EXPECT_NE(url.out.find(" revoked=3\n"), std::string::npos) << url.out;
}

TEST_F(RyxdirTest, MissingEntryByErrorMode) {
    const std::string missing = "cn=Nobody,dc=example,dc=com";
    Result strict = run({"user", missing});
    EXPECT_EQ(strict.status, 4);
    EXPECT_EQ(strict.err.rfind("ryxdir: error 576004: ", 0), 0u) << strict.err;
    EXPECT_EQ(strict.err.find('\n'), strict.err.size() - 1) << "one line: " << strict.err;
    EXPECT_EQ(strict.out, "");

    Result lenient = run({"-e", "1", "user", missing});
    EXPECT_EQ(lenient.status, 1);
    EXPECT_EQ(lenient.err, "ryxdir: nothing found\n");
}

TEST_F(RyxdirTest, CheckBindsAndKeepsThePasswordOutOfTheTrace) {
    const std::string secret = "s3cr3t-Pa55";
    const std::string pwFile = s_dir + "/badpw";
    writeFile(pwFile, secret + "\n");
    const std::string trace = s_dir + "/trace";
    Result bad = run({"-D", s_slapd->rootDN(), "-y", pwFile, "check"}, true,
                     {"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace});
    EXPECT_EQ(bad.status, 4);
    EXPECT_EQ(bad.err.rfind("ryxdir: error 576009: ", 0), 0u) << bad.err;
    const std::string traced = readFile(trace);
    EXPECT_NE(traced.find("LDAPClient::login("), std::string::npos) << "trace was written";
    EXPECT_EQ(traced.find(secret), std::string::npos);
    EXPECT_EQ(bad.err.find(secret), std::string::npos);

    const std::string goodFile = s_dir + "/goodpw";
    writeFile(goodFile, s_slapd->rootPassword() + "\n");
    Result good = run({"-D", s_slapd->rootDN(), "-y", goodFile, "check"});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "connection to " + s_slapd->host() + ":" + std::to_string(s_slapd->port()) +
                            " is valid\n");
}

TEST_F(RyxdirTest, UsageErrorsAndPluginFailures) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"ca"},
                                                 {"ca", "CN=x,,"},
                                                 {"-x", "ca", "CN=x"},
                                                 {"-p", "0", "ca", "CN=x"},
                                                 {"-f", "der", "ca", "CN=x"},
                                                 {"fetch", "CN=x"},
                                                 {"check", "extra"},
                                                 {}}) {
        Result r = run(args, false);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args) << r.err;
        EXPECT_EQ(r.err.rfind("ryxdir: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
    // An LDAP library that cannot be loaded makes no manager.
    Result lib = run({"-L", "/nonexistent/libldap.so", "ca", kCaDN});
    EXPECT_EQ(lib.status, 3);
    EXPECT_EQ(lib.err.rfind("ryxdir: cannot set up the directory plug-in: ", 0), 0u) << lib.err;
    // Server down.
    Result down = run({"-H", "127.0.0.1", "-p", "1", "ca", kCaDN}, false);
    EXPECT_EQ(down.status, 4);
    EXPECT_EQ(down.err.rfind("ryxdir: error 576002: ", 0), 0u) << down.err;
}

TEST_F(RyxdirTest, LoadedFromNamesThePluginFile) {
    Result r = run({"loaded-from"}, false);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string suffix = "/lib/libryx8drld.so\n";
    ASSERT_GT(r.out.size(), suffix.size());
    EXPECT_EQ(r.out.substr(r.out.size() - suffix.size()), suffix);
    EXPECT_EQ(r.out[0], '/');
}

}  // namespace
