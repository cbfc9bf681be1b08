// The ryxdir tool run as a user runs it, against a real slapd holding a CA
// entry with its certificate, CRL and ARL.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "ryxdirrun.h"

namespace {

using ryxdirrun::readFile;
using ryxdirrun::Result;
using ryxdirrun::writeFile;

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
        labpki::CrlOptions big;
        big.revokedCount = 4000;
        s_slapd->addEntry(kBigDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                   {"cn", {"Big CA"}},
                                   {"certificateRevocationList", {bytes(s_ca->crl(big))}}});
        s_dir = s_slapd->directory() + "/ryxdir";
        ASSERT_EQ(::mkdir(s_dir.c_str(), 0700), 0);
    }
    static void TearDownTestSuite() {
        delete s_arl;
        delete s_crl;
        delete s_ca;
        delete s_slapd;
    }

    // Runs ryxdir with the server options first, then args.
    Result run(std::vector<std::string> args, bool server = true,
               const ryxdirrun::RunOptions& options = ryxdirrun::RunOptions()) {
        std::vector<std::string> argv{RYXDIR_PATH};
        if (server) {
            std::vector<std::string> s{"-H", s_slapd->host(), "-p",
                                       std::to_string(s_slapd->port())};
            argv.insert(argv.end(), s.begin(), s.end());
        }
        argv.insert(argv.end(), args.begin(), args.end());
        return ryxdirrun::run(argv, s_dir, options);
    }
    Result run(std::vector<std::string> args, bool server, const std::vector<std::string>& env) {
        ryxdirrun::RunOptions options;
        options.env = env;
        return run(std::move(args), server, options);
    }

    static constexpr const char* kCaDN = "cn=Root CA,dc=example,dc=com";
    static constexpr const char* kBigDN = "cn=Big CA,dc=example,dc=com";
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

    // Certificate as text: one line with its SHA-256 fingerprint.
    Result text = run({"-f", "text", "ca", kCaDN});
    ASSERT_EQ(text.status, 0) << text.err;
    unsigned char digest[32];
    unsigned int length = 0;
    ASSERT_EQ(X509_digest(s_ca->certificate(), EVP_sha256(), digest, &length), 1);
    std::string fingerprint;
    for (unsigned int i = 0; i < length; ++i) {
        fingerprint += (i ? ":" : "") + labpki::toHex(labpki::Bytes{digest[i]}, true);
    }
    EXPECT_EQ(text.out.rfind("certificate 0: subject=CN=Root CA,DC=example,DC=com ", 0), 0u);
    EXPECT_NE(text.out.find(" sha256=" + fingerprint + "\n"), std::string::npos) << text.out;

    // CRL as text: one line with issuer, CRL number and revoked count.
    Result crl = run({"-f", "text", "crl", kCaDN});
    ASSERT_EQ(crl.status, 0) << crl.err;
    EXPECT_EQ(crl.out.rfind("crl 0: issuer=CN=Root CA,DC=example,DC=com thisUpdate=", 0), 0u)
        << crl.out;
    EXPECT_NE(crl.out.find(" number=1 revoked=3\n"), std::string::npos) << crl.out;

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
    EXPECT_EQ(lib.err,
              "ryxdir: cannot set up the directory plug-in: cannot load LDAP library "
              "\"/nonexistent/libldap.so\": /nonexistent/libldap.so: cannot open shared object "
              "file: No such file or directory\n");
    // Server down: check names the server it tried.
    Result down = run({"-H", "127.0.0.1:1", "check"}, false);
    EXPECT_EQ(down.status, 4);
    EXPECT_EQ(down.err.rfind("ryxdir: error 576002: ", 0), 0u) << down.err;
    EXPECT_NE(down.err.find(" (server 127.0.0.1:1)\n"), std::string::npos) << down.err;
}

TEST_F(RyxdirTest, PasswordSourcesFailClearly) {
    const std::string folder = s_dir + "/pwfolder", empty = s_dir + "/pwempty",
                      nul = s_dir + "/pwnul";
    ::mkdir(folder.c_str(), 0700);
    writeFile(empty, "");
    writeFile(nul, std::string("se\0cret\n", 8));
    const struct {
        std::vector<std::string> args;
        std::string error;
    } rows[] = {
        {{"-y", folder}, "password file \"" + folder + "\" is a folder"},
        {{"-y", empty}, "password file \"" + empty + "\" is empty"},
        {{"-y", nul}, "password file \"" + nul + "\" holds a NUL byte"},
        {{"-y", s_dir + "/nopw"}, "cannot read password file \"" + s_dir + "/nopw\": No such file"},
        {{"-W"}, "-W needs a terminal to ask for the password: /dev/tty: "},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-D", s_slapd->rootDN()};
        args.insert(args.end(), row.args.begin(), row.args.end());
        args.push_back("check");
        ryxdirrun::RunOptions detached;
        detached.setsid = true;  // no controlling terminal
        Result r = run(args, true, detached);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("ryxdir: " + row.error, 0), 0u) << r.err;
    }
    for (const char* hosts : {"http://127.0.0.1", "127.0.0.1:0", "[::1"}) {
        Result r = run({"-H", hosts, "check"}, false);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("ryxdir: -H: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(std::string("\"") + hosts + "\""), std::string::npos) << r.err;
    }
}

TEST_F(RyxdirTest, PromptsForThePasswordWithoutEcho) {
    const std::string secret = s_slapd->rootPassword();
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    const std::string port = std::to_string(s_slapd->port());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // A new session whose controlling terminal is the pty.
        ::setsid();
        const int tty = ::open(slave.c_str(), O_RDWR);
        ::dup2(tty, 0);
        ::dup2(tty, 1);
        ::dup2(tty, 2);
        ::execl(RYXDIR_PATH, RYXDIR_PATH, "-H", "127.0.0.1", "-p", port.c_str(), "-D",
                s_slapd->rootDN().c_str(), "-W", "check", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    // Reads from the pty until text appears or 20 s pass.
    auto readUntil = [&](const std::string& text) {
        for (int i = 0; i < 200 && seen.find(text) == std::string::npos; ++i) {
            struct pollfd p = {master, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buffer[256];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0) {
                    break;
                }
                seen.append(buffer, static_cast<size_t>(n));
            }
        }
        return seen.find(text) != std::string::npos;
    };
    EXPECT_TRUE(readUntil("Enter LDAP password: ")) << seen;
    // Echo is off while the prompt waits.
    struct termios mode;
    bool echoOff = false;
    for (int i = 0; i < 100 && !echoOff; ++i) {
        echoOff = ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0;
        if (!echoOff) {
            ::usleep(20000);
        }
    }
    EXPECT_TRUE(echoOff);
    const std::string line = secret + "\n";
    EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    EXPECT_TRUE(readUntil(" is valid")) << seen;
    int status = 0;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        ::usleep(50000);
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(seen.find(secret), std::string::npos) << "echoed: " << seen;
}

TEST_F(RyxdirTest, JsonOnEveryCommand) {
    const struct {
        std::vector<std::string> args;
        bool server;
        int status;
        std::string member;  // a line the document holds
    } rows[] = {
        {{"ca", kCaDN}, true, 0, "\"subject\": \"CN=Root CA,DC=example,DC=com\""},
        {{"user", kCaDN}, true, 1, "\"certificates\": []"},
        {{"crl", kCaDN}, true, 0, "\"crlNumber\": \"1\""},
        {{"arl", kCaDN}, true, 0, "\"revoked\": 3"},
        {{"-H", "URI", "url", s_slapd->url() + "/" + kCaDN + "?certificateRevocationList"},
         false,
         0,
         "\"nextUpdate\": \"20"},
        {{"check"}, true, 0, "\"valid\": true"},
        {{"loaded-from"}, false, 0, "\"path\": \"/"},
        {{"user", "cn=Nob\\\"ody,dc=example,dc=com"}, true, 4, "\"error\": \"error 576004: "},
        {{"user", "cn=x,,"}, true, 2, "\"error\": \"bad distinguished name \\\"cn=x,,\\\"\""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-f", "json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        Result r = run(args, row.server);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_TRUE(ryxdirrun::parsesAsJson(r.out, s_dir)) << r.out;
        EXPECT_NE(r.out.find(row.member), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"status\": " + std::to_string(row.status) + "\n}\n"),
                  std::string::npos)
            << r.out;
    }
}

TEST_F(RyxdirTest, DerFilesAreWrittenWholeOrNotAtAll) {
    const std::string outDir = s_dir + "/atomic";
    ASSERT_EQ(::mkdir(outDir.c_str(), 0700), 0);
    // A symbolic link in the way is not followed, and its target is untouched.
    const std::string victim = s_dir + "/victim";
    writeFile(victim, "keep");
    ASSERT_EQ(::symlink(victim.c_str(), (outDir + "/crl-0.der").c_str()), 0);
    Result link = run({"-f", "der", "-o", outDir, "crl", kCaDN});
    EXPECT_EQ(link.status, 5);
    EXPECT_EQ(link.err, "ryxdir: cannot write \"" + outDir +
                            "/crl-0.der\": it is a symbolic link, which is not followed\n");
    EXPECT_EQ(readFile(victim), "keep");

    // A full disk: a 16 KiB tmpfs in a private mount namespace, and a list of
    // about 100 KiB. Nothing is left in the folder.
    const std::string full = s_dir + "/full";
    ASSERT_EQ(::mkdir(full.c_str(), 0700), 0);
    const std::string command = "mount -t tmpfs -o size=16k tmpfs " + full +
                                " && " RYXDIR_PATH " -H 127.0.0.1 -p " +
                                std::to_string(s_slapd->port()) + " -f der -o " + full + " crl '" +
                                kBigDN + "'; status=$?; ls -A " + full + " >&2; exit $status";
    Result r = ryxdirrun::run({"unshare", "-m", "sh", "-c", command}, s_dir);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.err, "ryxdir: cannot write \"" + full + "/crl-0.der\": No space left on device\n");
}

TEST_F(RyxdirTest, StandardStreamsAndPipes) {
    // Started with standard output closed: the output goes nowhere, never
    // into a file or connection opened later (here the trace file).
    const std::string trace = s_dir + "/closed-trace";
    ryxdirrun::RunOptions closed;
    closed.closed = {1};
    closed.env = {"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace};
    Result quiet = run({"ca", kCaDN}, true, closed);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_NE(readFile(trace).find("getCACertificates"), std::string::npos);
    EXPECT_EQ(readFile(trace).find("BEGIN CERTIFICATE"), std::string::npos);

    // Output that cannot be written is an error of its own.
    ryxdirrun::RunOptions toFull;
    toFull.stdoutPath = "/dev/full";
    Result lost = run({"ca", kCaDN}, true, toFull);
    EXPECT_EQ(lost.status, 5);
    EXPECT_EQ(lost.err, "ryxdir: cannot write to standard output: No space left on device\n");

    // A server that hangs up while a long password is sent: a clear error,
    // not death by SIGPIPE.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    std::thread hangUp([listener] {
        struct pollfd p = {listener, POLLIN, 0};
        if (::poll(&p, 1, 20000) > 0) {
            const int c = ::accept(listener, nullptr, nullptr);
            ::close(c);
        }
    });
    const std::string longPassword = s_dir + "/longpw";
    writeFile(longPassword, std::string(1 << 20, 'x') + "\n");
    Result pipe = run({"-H", "127.0.0.1:" + std::to_string(ntohs(address.sin_port)), "-D", "cn=x",
                       "-y", longPassword, "check"},
                      false);
    hangUp.join();
    ::close(listener);
    EXPECT_EQ(pipe.status, 4) << pipe.err;
    EXPECT_EQ(pipe.err.rfind("ryxdir: error 576002: ", 0), 0u) << pipe.err;
}

// --batch: one result line per operand line, blank lines passed over, a bad
// line reported without ending the run (unless --stop-on-error), the exit
// status the highest of the lines'.
TEST_F(RyxdirTest, BatchAnswersEveryLine) {
    const std::string input = s_dir + "/batch-input";
    writeFile(input, std::string(kCaDN) + "\n\n  cn=Nobody,dc=example,dc=com\ncn=x,,\r\n" +
                         std::string("cn=a\0b", 6) + "\n" + kCaDN);
    ryxdirrun::RunOptions options;
    options.stdinPath = input;
    const struct {
        std::vector<std::string> args;
        int status;
        std::vector<std::string> lines;  // how each output line starts
    } rows[] = {
        {{"--batch", "-e", "1", "crl"},
         2,
         {std::string("0\t") + kCaDN + "\tcrl 0: issuer=CN=Root CA,DC=example,DC=com ",
          "1\tcn=Nobody,dc=example,dc=com\tnothing found",
          "2\tcn=x,,\tbad distinguished name \"cn=x,,\"", "2\tcn=a",
          std::string("0\t") + kCaDN + "\tcrl 0: "}},
        {{"--batch", "--stop-on-error", "ca"},
         4,
         {std::string("0\t") + kCaDN + "\tcertificate 0: subject=CN=Root CA,",
          "4\tcn=Nobody,dc=example,dc=com\terror 576004: "}},
        {{"-f", "json", "--batch", "-e", "1", "arl"},
         2,
         {std::string("{\"input\":\"") + kCaDN + "\",\"status\":0,\"crls\":[{\"issuer\":",
          "{\"input\":\"cn=Nobody,dc=example,dc=com\",\"status\":1,\"crls\":[]}",
          "{\"input\":\"cn=x,,\",\"status\":2,\"error\":\"bad distinguished name ",
          "{\"input\":\"cn=a\\u0000b\",\"status\":2,\"error\":\"line holds a NUL byte\"}",
          std::string("{\"input\":\"") + kCaDN + "\",\"status\":0,"}},
    };
    for (const auto& row : rows) {
        Result r = run(row.args, true, options);
        EXPECT_EQ(r.status, row.status) << r.err;
        std::istringstream out(r.out);
        std::string line;
        for (const std::string& start : row.lines) {
            ASSERT_TRUE(std::getline(out, line)) << r.out;
            EXPECT_EQ(line.rfind(start, 0), 0u) << line;
            if (row.args[0] == "-f") {
                EXPECT_TRUE(ryxdirrun::parsesAsJson(line, s_dir)) << line;
            }
        }
        EXPECT_FALSE(std::getline(out, line)) << "one line per operand: " << line;
    }
}

// A run loads what its command needs: OpenLDAP's SASL mechanisms stay out (the
// plug-in binds simply), and OpenSSL's configuration is read when OPENSSL_CONF
// names one (here one that adds an attribute type).
TEST_F(RyxdirTest, StartUpTakesWhatTheCommandNeeds) {
    Result traced = run({"ca", kCaDN}, true, {"LD_DEBUG=files"});
    EXPECT_EQ(traced.status, 0);
    EXPECT_NE(traced.err.find("libldap"), std::string::npos) << "the loader reported";
    EXPECT_EQ(traced.err.find("/sasl2/"), std::string::npos) << traced.err;

    const std::string conf = s_dir + "/openssl.cnf";
    writeFile(conf,
              "openssl_conf = init\n[init]\noid_section = oids\n"
              "[oids]\nlabAttribute = 1.3.6.1.4.1.99999.1\n");
    const std::vector<std::string> args{"-e", "2", "ca", "labAttribute=x,dc=example,dc=com"};
    EXPECT_EQ(run(args).status, 2) << "an unknown attribute type";
    Result configured = run(args, true, {"OPENSSL_CONF=" + conf});
    EXPECT_EQ(configured.status, 1) << configured.err;
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
