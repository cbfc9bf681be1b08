// The ryxdir tool run as a user runs it, against a slapd with the stock schema
// (values come back as "NAME;binary", which ryxdir folds unless told not to)
// that also speaks TLS, holding a CA entry with its certificate, CRL and ARL.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "ryxdirrun.h"

namespace {

using ryxdirrun::readFile;
using ryxdirrun::Result;
using ryxdirrun::writeFile;
using ::testing::HasSubstr;
using ::testing::StartsWith;

std::string text(const labpki::Bytes& b) {
    return std::string(b.begin(), b.end());
}

class RyxdirTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::Stock);
        s_ca = new labpki::Authority(labpki::Authority::root(kCaDN));
        labpki::CertOptions server;
        server.serial = 99;
        server.subjectAltNames = {"IP:127.0.0.1"};
        const labpki::KeyPtr key = labpki::makeKey();
        s_slapd->enableTls(labpki::certificatePEM(s_ca->issue("cn=127.0.0.1", server, key.get())),
                           labpki::privateKeyPEM(key.get()));
        s_slapd->start();
        labpki::CrlOptions crl, big;
        crl.revokedCount = 3;
        big.revokedCount = 4000;
        s_crl = new labpki::Bytes(s_ca->crl(crl));
        s_arl = new labpki::Bytes(s_ca->arl());
        const std::vector<std::string> pkiCA = {"applicationProcess", "pkiCA"};
        s_slapd->addEntry(kCaDN, {{"objectClass", pkiCA},
                                  {"cn", {"Root CA"}},
                                  {"cACertificate;binary", {text(s_ca->certificateDER())}},
                                  {"certificateRevocationList;binary", {text(*s_crl)}},
                                  {"authorityRevocationList;binary", {text(*s_arl)}}});
        s_slapd->addEntry(kBigDN, {{"objectClass", pkiCA},
                                   {"cn", {"Big CA"}},
                                   {"certificateRevocationList;binary", {text(s_ca->crl(big))}}});
        s_dir = s_slapd->directory() + "/ryxdir";
        ASSERT_EQ(::mkdir(s_dir.c_str(), 0700), 0);
        writeFile(s_dir + "/ca.pem", labpki::certificatePEM(s_ca->certificateDER()));
        writeFile(s_dir + "/other.pem",
                  labpki::certificatePEM(labpki::Authority::root("cn=Other").certificateDER()));
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
            argv.insert(argv.end(), {"-H", s_slapd->host(), "-p", std::to_string(s_slapd->port())});
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
    Result pem = run({"ca", kCaDN});
    EXPECT_EQ(pem.status, 0) << pem.err;
    EXPECT_EQ(labpki::fromPEM(pem.out), s_ca->certificateDER());

    // Text: a certificate's line ends with its SHA-256 fingerprint, a list's
    // with its number and revoked count.
    unsigned char digest[32];
    unsigned int length = 0;
    ASSERT_EQ(X509_digest(s_ca->certificate(), EVP_sha256(), digest, &length), 1);
    std::string fingerprint;
    for (unsigned int i = 0; i < length; ++i) {
        fingerprint += (i ? ":" : "") + labpki::toHex(labpki::Bytes{digest[i]}, true);
    }
    EXPECT_THAT(run({"-f", "text", "ca", kCaDN}).out,
                StartsWith("certificate 0: subject=CN=Root CA,DC=example,DC=com "));
    EXPECT_THAT(run({"-f", "text", "ca", kCaDN}).out, HasSubstr(" sha256=" + fingerprint + "\n"));
    Result crl = run({"-f", "text", "crl", kCaDN});
    EXPECT_THAT(crl.out, StartsWith("crl 0: issuer=CN=Root CA,DC=example,DC=com thisUpdate="));
    EXPECT_THAT(crl.out, HasSubstr(" number=1 revoked=3\n"));

    // ARLs first, then the CRLs of the same issuer; as DER files.
    const std::string outDir = s_dir + "/der";
    ASSERT_EQ(::mkdir(outDir.c_str(), 0700), 0);
    Result arl = run({"-f", "der", "-o", outDir, "arl", kCaDN});
    EXPECT_EQ(arl.out, outDir + "/crl-0.der\n" + outDir + "/crl-1.der\n") << arl.err;
    EXPECT_EQ(readFile(outDir + "/crl-0.der"), text(*s_arl));
    EXPECT_EQ(readFile(outDir + "/crl-1.der"), text(*s_crl));

    // By a URL that names the server and the attribute.
    Result url = run({"-H", "URI", "-f", "text", "url",
                      s_slapd->url() + "/" + kCaDN + "?certificateRevocationList"},
                     false);
    EXPECT_THAT(url.out, HasSubstr(" revoked=3\n")) << url.err;
}

// Every failure: its own exit status, one line on standard error (a usage
// error adds the usage text after it), nothing on standard output.
TEST_F(RyxdirTest, FailuresTellWhyWithTheirOwnStatus) {
    const std::string missing = "cn=Nobody,dc=example,dc=com", folder = s_dir + "/pwfolder",
                      empty = s_dir + "/pwempty", nul = s_dir + "/pwnul";
    ::mkdir(folder.c_str(), 0700);
    writeFile(empty, "");
    writeFile(nul, std::string("se\0cret\n", 8));
    const struct {
        std::vector<std::string> args;  // after the server options
        int status;
        std::string err;  // how the first line goes on after "ryxdir: "
    } rows[] = {
        {{}, 2, "no command given"},
        {{"-x", "ca", "CN=x"}, 2, "unknown option \"-x\""},
        {{"-y", folder, "check"}, 2, "password file \"" + folder + "\" is a folder"},
        {{"-y", empty, "check"}, 2, "password file \"" + empty + "\" is empty"},
        {{"-y", nul, "check"}, 2, "password file \"" + nul + "\" holds a NUL byte"},
        {{"-y", s_dir + "/nopw", "check"}, 2, "cannot read password file \"" + s_dir + "/nopw\""},
        {{"-D", "cn=x", "-W", "check"},
         2,
         "-W needs a terminal to ask for the password: /dev/tty: "},
        {{"-H", "http://127.0.0.1", "check"}, 2, "-H: unknown scheme in \"http://127.0.0.1\""},
        {{"-ZZ", "--cacert", "/none/ca.pem", "check"}, 2, "cannot read CA certificate file"},
        {{"user", missing}, 4, "error 576004: "},
        {{"-e", "1", "user", missing}, 1, "nothing found\n"},
        {{"-L", "/none/libldap.so", "ca", kCaDN},
         3,
         "cannot set up the directory plug-in: cannot load LDAP library \"/none/libldap.so\": "
         "/none/libldap.so: cannot open shared object file: No such file or directory\n"},
        {{"-H", "127.0.0.1:1", "check"}, 4, "error 576002: "},
    };
    ryxdirrun::RunOptions detached;
    detached.setsid = true;  // no controlling terminal for -W
    for (const auto& row : rows) {
        Result r = run(row.args, true, detached);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_THAT(r.err, StartsWith("ryxdir: " + row.err));
        if (row.status != 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
        }
        EXPECT_EQ(r.out, "");
    }
    // A server that cannot be reached is named.
    EXPECT_THAT(run({"-H", "127.0.0.1:1", "check"}, false).err,
                testing::EndsWith(" (server 127.0.0.1:1)\n"));
}

TEST_F(RyxdirTest, CheckBindsAndKeepsThePasswordOutOfTheTrace) {
    const std::string secret = "s3cr3t-Pa55", pwFile = s_dir + "/badpw", trace = s_dir + "/trace";
    writeFile(pwFile, secret + "\n");
    Result bad = run({"-D", s_slapd->rootDN(), "-y", pwFile, "check"}, true,
                     {"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace});
    EXPECT_EQ(bad.status, 4);
    EXPECT_THAT(bad.err, StartsWith("ryxdir: error 576009: "));
    EXPECT_THAT(readFile(trace), HasSubstr("LDAPClient::login("));
    EXPECT_THAT(readFile(trace) + bad.err, testing::Not(HasSubstr(secret)));

    writeFile(pwFile, s_slapd->rootPassword() + "\n");
    Result good = run({"-D", s_slapd->rootDN(), "-y", pwFile, "check"});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(good.out, "connection to " + s_slapd->hostPort() + " is valid\n");
}

TEST_F(RyxdirTest, PromptsForThePasswordWithoutEcho) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const std::string tty = ::ptsname(master), port = std::to_string(s_slapd->port());
    const std::string secret = s_slapd->rootPassword(), dn = s_slapd->rootDN();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {  // a new session whose controlling terminal is the pty
        ::setsid();
        const int fd = ::open(tty.c_str(), O_RDWR);
        for (int i = 0; i <= 2; ++i) {
            ::dup2(fd, i);
        }
        ::execl(RYXDIR_PATH, RYXDIR_PATH, "-H", "127.0.0.1", "-p", port.c_str(), "-D", dn.c_str(),
                "-W", "check", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string seen;
    const auto readUntil = [&](const char* wanted) {  // for 20 s at most
        char buffer[256];
        for (int i = 0; i < 200 && seen.find(wanted) == std::string::npos; ++i) {
            pollfd p = {master, POLLIN, 0};
            const ssize_t n = ::poll(&p, 1, 100) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
            if (n < 0) {
                break;
            }
            seen.append(buffer, static_cast<size_t>(n));
        }
        return seen.find(wanted) != std::string::npos;
    };
    EXPECT_TRUE(readUntil("Enter LDAP password: ")) << seen;
    bool echoOff = false;
    termios mode{};
    for (int i = 0; i < 100 && !echoOff; ++i, ::usleep(20000)) {
        echoOff = ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0;
    }
    EXPECT_TRUE(echoOff);
    const std::string line = secret + "\n";
    EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    EXPECT_TRUE(readUntil(" is valid")) << seen;
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        ::usleep(50000);
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_THAT(seen, testing::Not(HasSubstr(secret)));
}

TEST_F(RyxdirTest, JsonOnEveryCommand) {
    const std::string url = s_slapd->url() + "/" + kCaDN + "?certificateRevocationList";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string member;  // a line the document holds
    } rows[] = {
        {{"ca", kCaDN}, 0, "\"subject\": \"CN=Root CA,DC=example,DC=com\""},
        {{"user", kCaDN}, 1, "\"certificates\": []"},
        {{"crl", kCaDN}, 0, "\"crlNumber\": \"1\""},
        {{"arl", kCaDN}, 0, "\"revoked\": 3"},
        {{"-H", "URI", "url", url}, 0, "\"nextUpdate\": \"20"},
        {{"check"}, 0, "\"valid\": true"},
        {{"loaded-from"}, 0, "\"path\": \"/"},
        {{"user", "cn=Nob\\\"ody,dc=example,dc=com"}, 4, "\"error\": \"error 576004: "},
        {{"user", "cn=x,,"}, 2, "\"error\": \"bad distinguished name \\\"cn=x,,\\\"\""},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"-f", "json"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        Result r = run(args);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_TRUE(ryxdirrun::parsesAsJson(r.out, s_dir)) << r.out;
        EXPECT_THAT(r.out, HasSubstr(row.member));
        EXPECT_THAT(r.out,
                    testing::EndsWith("\"status\": " + std::to_string(row.status) + "\n}\n"));
    }
}

TEST_F(RyxdirTest, FullDiskLeavesNoFile) {
    // A 16 KiB tmpfs in a private mount namespace, and a list of about 100 KiB.
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
    // Started with standard output closed: the output goes nowhere, never into
    // a file or connection opened later (here the trace file).
    const std::string trace = s_dir + "/closed-trace";
    ryxdirrun::RunOptions closed;
    closed.closed = {1};
    closed.env = {"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace};
    EXPECT_EQ(run({"ca", kCaDN}, true, closed).status, 0);
    EXPECT_THAT(readFile(trace), HasSubstr("getCACertificates"));
    EXPECT_THAT(readFile(trace), testing::Not(HasSubstr("BEGIN CERTIFICATE")));

    // Output that cannot be written is an error of its own.
    ryxdirrun::RunOptions toFull;
    toFull.stdoutPath = "/dev/full";
    Result lost = run({"ca", kCaDN}, true, toFull);
    EXPECT_EQ(lost.status, 5);
    EXPECT_EQ(lost.err, "ryxdir: cannot write to standard output: No space left on device\n");

    // A server that hangs up while a long password is sent: a clear error, not
    // death by SIGPIPE.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    writeFile(s_dir + "/longpw", std::string(1 << 20, 'x') + "\n");
    const pid_t pid = ryxdirrun::start(
        {RYXDIR_PATH, "-H", "127.0.0.1", "-p", std::to_string(ntohs(address.sin_port)), "-D",
         "cn=x", "-y", s_dir + "/longpw", "check"},
        s_dir);
    pollfd p = {listener, POLLIN, 0};
    if (::poll(&p, 1, 20000) > 0) {
        ::close(::accept(listener, nullptr, nullptr));
    }
    Result pipe = ryxdirrun::finish(pid, s_dir);
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

// TLS as ldapsearch spells it, and the ";binary" folding that is on by default.
TEST_F(RyxdirTest, TlsOptionsAndBinaryFolding) {
    const std::string ldaps = "ldaps://127.0.0.1:" + std::to_string(s_slapd->tlsPort());
    const std::string right = s_dir + "/ca.pem", wrong = s_dir + "/other.pem";
    const struct {
        std::vector<std::string> args;  // after the server options, before the command
        int status;
        const char* err;  // in standard error
    } rows[] = {
        {{"-ZZ", "--cacert", right}, 0, ""},          {{"-Z", "--cacert", right}, 0, ""},
        {{"-ZZ", "--cacert", wrong}, 4, "TLS"},       {{"-H", ldaps, "--cacert", right}, 0, ""},
        {{"-H", ldaps, "--cacert", wrong}, 4, "TLS"}, {{"--no-fold-binary"}, 1, "nothing found"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {"-f", "text", "ca", kCaDN});
        Result r = run(args, true, {"RYX_LDAP_TIMEOUT=10"});
        EXPECT_EQ(r.status, row.status) << ::testing::PrintToString(row.args) << r.err;
        EXPECT_THAT(r.err, HasSubstr(row.err));
        EXPECT_EQ(r.out.rfind("certificate 0: subject=CN=Root CA,", 0) == 0, row.status == 0);
    }
}

TEST_F(RyxdirTest, LoadedFromNamesThePluginFile) {
    Result r = run({"loaded-from"}, false);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out[0], '/');
    EXPECT_THAT(r.out, testing::EndsWith("/lib/libryx8drld.so\n"));
}

}  // namespace
