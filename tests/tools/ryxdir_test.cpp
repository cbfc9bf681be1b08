// The ryxdir tool run as a user runs it, against a slapd with the stock schema
// (values come back as "NAME;binary", which ryxdir folds unless told not to)
// that also speaks TLS, holding generated PKIs for every command and verdict,
// and under ou=Status lists of every state for the status command, more of
// them than the server's size limit (50) lets a search without pages see.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fakeserver.h"
#include "ryxdirlab.h"
#include "ryxopensslptr.h"
#include "ryxuniquefd.h"

namespace {

using labpki::Authority;
using labpki::Bytes;
using ryxdirlab::kSuffix;
using ryxdirlab::text;
using ryxdirlab::withEnv;
using spawntest::readFile;
using spawntest::Result;
using spawntest::RunOptions;
using spawntest::writeFile;
using ::testing::ContainsRegex;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kRootDN = "cn=Root One" + kSuffix, kBigDN = "cn=Big CA" + kSuffix;

// Appends what the master side of a terminal has to read to seen, waiting up
// to tries x 100 ms until seen holds wanted; true when it does.
bool readTerminal(int master, std::string& seen, const char* wanted, int tries) {
    char buffer[4096];
    for (int i = 0; i < tries && seen.find(wanted) == std::string::npos; ++i) {
        pollfd p = {master, POLLIN, 0};
        const ssize_t n = ::poll(&p, 1, 100) > 0 ? ::read(master, buffer, sizeof buffer) : 0;
        if (n < 0) {
            break;
        }
        seen.append(buffer, static_cast<size_t>(n));
    }
    return seen.find(wanted) != std::string::npos;
}

// How often what occurs in text with then later on the same line.
size_t occurrences(const std::string& text, const std::string& what, const std::string& then) {
    size_t count = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; ++at) {
        count += text.substr(at, text.find('\n', at) - at).find(then) != std::string::npos;
    }
    return count;
}

// The status command's subtree: 120 entries with a list each, beside CAs
// with lists fresh, close to their next update, past it, badly signed, and
// older than a list beside them.
const std::string kStatus = ",ou=Status" + kSuffix, kMany = "ou=Many" + kStatus;
const int kManyEntries = 120;

// A list of the kind a status case names, signed by ca of name dn (or, when
// forged, by another key of that name).
Bytes statusList(const std::string& dn, const Authority& ca, const std::string& spec,
                 std::string& kind) {
    labpki::CrlOptions o;
    long hours = 0;
    std::istringstream(spec) >> kind >> hours >> o.crlNumber >> o.revokedCount;
    o.thisUpdate = labpki::fromNow(-3600);
    o.nextUpdate = labpki::fromNow(hours * 3600);
    if (kind == "arl") {
        return ca.arl(o);
    }
    return kind == "forged" ? Authority::root(dn).crl(o) : ca.crl(o);
}

void addStatusEntries(ryxdirlab::Lab& lab) {
    for (const std::string& dn : {kStatus.substr(1), kMany}) {
        const std::string ou = dn.substr(3, dn.find(',') - 3);
        lab.slapd->addEntry(dn, {{"objectClass", {"organizationalUnit"}}, {"ou", {ou}}});
    }
    for (const auto& row : spawntest::readCases(ryxdirlab::casesFile("status-cas.tsv"))) {
        const std::string dn = "cn=" + row[0] + kStatus;
        const Authority ca = Authority::root(dn);
        std::vector<Bytes> crls, arls;
        for (auto spec = row.begin() + 1; spec != row.end(); ++spec) {
            std::string kind;
            const Bytes list = statusList(dn, ca, *spec, kind);
            for (int i = 0; kind == "points" && i < kManyEntries; ++i) {
                const std::string cn = "Point " + std::to_string(i);
                lab.slapd->addEntry("cn=" + cn + "," + kMany,
                                    {{"objectClass", {"cRLDistributionPoint"}},
                                     {"cn", {cn}},
                                     {"certificateRevocationList;binary", {text(list)}}});
            }
            if (kind != "points") {
                (kind == "arl" ? arls : crls).push_back(list);
            }
        }
        lab.addCA(row[0], {ca.certificateDER()}, crls, arls, kStatus);
    }
}

class RyxdirTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_lab = std::make_unique<ryxdirlab::Lab>();
        ryxdirlab::Lab& lab = *s_lab;
        const auto root = [](const char* cn) { return Authority::root(cn + kSuffix); };
        const Authority r1 = root("cn=Root One"), r4 = root("cn=Root Four");
        labpki::CertOptions server;
        server.serial = 99;
        server.subjectAltNames = {"IP:127.0.0.1"};
        const labpki::KeyPtr key = labpki::makeKey();
        lab.slapd->enableTls(labpki::certificatePEM(r1.issue("cn=127.0.0.1", server, key.get())),
                             labpki::privateKeyPEM(key.get()));
        lab.slapd->setSizeLimit(50);
        lab.start("ryxdir");
        s_dir = lab.dir;
        addStatusEntries(lab);

        const auto under = [&r1](const char* cn, int serial) {
            return r1.intermediate(cn + kSuffix, Authority::caDefaults(serial));
        };
        const Authority i1 = under("cn=Inter One", 11), i2 = under("cn=Inter Two", 12),
                        i3 = under("cn=Inter Three", 13), i5 = under("cn=Inter Five", 15),
                        i5other = under("cn=Inter Five", 16), i6 = under("cn=Inter Six", 17);
        const Authority orphan = root("cn=Orphan CA"), loop1 = root("cn=Loop One"),
                        loop2 = root("cn=Loop Two");
        const auto revoking = [](std::uint64_t serial) {
            labpki::CrlOptions o;
            o.serials = {serial};
            return o;
        };
        labpki::CrlOptions three, big;
        three.revokedCount = 3;
        big.revokedCount = 4000;
        s_rootDER = r1.certificateDER();
        s_crl = r1.crl(three);
        s_arl = r1.arl(revoking(12));
        lab.addCA("Root One", {s_rootDER}, {s_crl}, {s_arl});
        lab.addCA("Big CA", {}, {r1.crl(big)});
        lab.addCA("Inter One", {i1.certificateDER()}, {i1.crl(revoking(102))});
        lab.addCA("Inter Two", {i2.certificateDER()}, {i2.crl()});
        lab.addCA("Inter Three", {i3.certificateDER()});  // its list is at a distribution point
        lab.slapd->addEntry("cn=CRL Three" + kSuffix,
                            {{"objectClass", {"cRLDistributionPoint"}},
                             {"cn", {"CRL Three"}},
                             {"certificateRevocationList;binary", {text(i3.crl(revoking(301)))}}});
        lab.addCA("Inter Five", {i5other.certificateDER(), i5.certificateDER()}, {i5.crl()});
        lab.addCA("Inter Six", {orphan.certify(i6, Authority::caDefaults(18)), i6.certificateDER()},
                  {i6.crl()});
        lab.addCA("Root Four", {r4.certificateDER()});
        lab.addCA("Loop One", {loop2.certify(loop1, Authority::caDefaults(21))});
        lab.addCA("Loop Two", {loop1.certify(loop2, Authority::caDefaults(22))});

        lab.writePEM("root1.pem", s_rootDER);
        lab.write("root1.der", text(s_rootDER));
        lab.writePEM("root4.pem", r4.certificateDER());
        lab.writePEM("other.pem", root("cn=Root One").certificateDER());  // same name, other key
        const std::map<std::string, const Authority*> issuers{
            {"r4", &r4}, {"i1", &i1}, {"i2", &i2},      {"i3", &i3},
            {"i5", &i5}, {"i6", &i6}, {"loop1", &loop1}};
        for (auto row : cases("users.tsv", {})) {
            row.resize(6);
            labpki::CertOptions user;
            user.serial = std::stoull(row[3]);
            std::istringstream days(row[4]), points(row[5]);
            long from = 0, to = 0;
            if (days >> from >> to) {
                user.notBefore = labpki::fromNow(from * 86400);
                user.notAfter = labpki::fromNow(to * 86400);
            }
            user.crlDistributionPoints = {std::istream_iterator<std::string>(points), {}};
            lab.writePEM(row[0], issuers.at(row[2])->issue("cn=" + row[1] + kSuffix, user));
        }
    }
    static void TearDownTestSuite() { s_lab.reset(); }

    Result run(const std::vector<std::string>& args, const RunOptions& options = RunOptions()) {
        return s_lab->run(args, options);
    }
    // The rows of a cases file, with ${DIR}, ${URL}, ${ROOT} and ${AT} (the time
    // the lists were made) filled in.
    static std::vector<std::vector<std::string>> cases(const char* name,
                                                       std::map<std::string, std::string> vars) {
        vars.insert({{"DIR", s_dir},
                     {"URL", s_lab->slapd->url()},
                     {"ROOT", kRootDN},
                     {"AT", std::to_string(labpki::referenceTime())}});
        return spawntest::readCases(ryxdirlab::casesFile(name), vars);
    }

    static inline std::unique_ptr<ryxdirlab::Lab> s_lab;
    static inline Bytes s_rootDER, s_crl, s_arl;
    static inline std::string s_dir;
};

// Text: a certificate's line ends with its SHA-256 fingerprint; a list's with
// its number and revoked count, ARLs first.
TEST_F(RyxdirTest, TextLinesOfEachKind) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(s_rootDER.data(), s_rootDER.size(), digest);
    const std::string fingerprint =
        ryx::UniquePtr<char>(OPENSSL_buf2hexstr(digest, sizeof digest)).get();
    EXPECT_THAT(
        run({"-f", "text", "ca", kRootDN}).out,
        ContainsRegex("^certificate 0: subject=CN=Root One,DC=example,DC=com [^\n]* sha256=" +
                      fingerprint + "\n"));
    EXPECT_THAT(run({"-f", "text", "arl", kRootDN}).out,
                ContainsRegex("^arl 0: issuer=CN=Root One,[^\n]* number=1 revoked=1\ncrl 0: "
                              "issuer=CN=Root One,DC=example,DC=com thisUpdate=[^\n]* number=1 "
                              "revoked=3\n"));
}

// Runs of every command, the failures with their own exit status, one line on
// standard error (a bad command line adds a hint) and nothing on standard
// output but a JSON document when asked for one.
TEST_F(RyxdirTest, RunsAndFailuresWithTheirOwnStatus) {
    writeFile(s_dir + "/pwnul", std::string("se\0cret\n", 8));
    RunOptions detached = withEnv({"RYX_LDAP_TIMEOUT=10"});
    detached.setsid = true;  // no controlling terminal for -W
    // Standard output closed (where a trace file opened later must not take
    // its place) or on a full device; standard input one name for --batch.
    const std::string trace = s_dir + "/closed-trace";
    std::map<std::string, RunOptions> how{{"", detached}, {"closed", detached}, {"full", detached}};
    how["closed"].closed = {1};
    how["closed"].env = {"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace};
    how["full"].stdoutPath = "/dev/full";
    writeFile(how["full"].stdinPath = how["closed"].stdinPath = s_dir + "/one-name",
              kRootDN + "\n");
    writeFile(s_dir + "/longpw", std::string(1 << 20, 'x') + "\n");
    writeFile(s_dir + "/rootpw", s_lab->slapd->rootPassword() + "\n");
    ASSERT_EQ(::mkdir((s_dir + "/der").c_str(), 0700), 0);
    const FakeServer hangingUp(FakeServer::Mode::RefuseTls);
    const auto rows = cases(
        "runs.tsv", {{"LDAPS", "ldaps://127.0.0.1:" + std::to_string(s_lab->slapd->tlsPort())},
                     {"RIGHT", s_dir + "/root1.pem"},
                     {"WRONG", s_dir + "/other.pem"},
                     {"HANGUP", hangingUp.hostPort()},
                     {"ROOTPEM", readFile(s_dir + "/root1.pem")},
                     {"ROOTDN", s_lab->slapd->rootDN()},
                     {"SERVER", s_lab->slapd->hostPort()}});
    for (const auto& row : rows) {
        int status = -1;
        std::string output;
        std::istringstream(row[0]) >> status >> output;
        Result r = run({row.begin() + 3, row.end()}, how.at(output));
        EXPECT_EQ(r.status, status) << r.err;
        if (!row[1].empty() && std::find(row.begin() + 3, row.end(), "json") != row.end()) {
            EXPECT_TRUE(spawntest::parsesAsJson(r.out, s_dir)) << r.out;
            EXPECT_THAT(r.out, StartsWith("{\n  \"format\": 1,\n"));
            EXPECT_THAT(r.out, HasSubstr(row[1]));
            EXPECT_THAT(r.out, EndsWith("\"status\": " + row[0] + "\n}\n"));
        } else {  // all of it when it ends a line, else how it starts
            const bool whole = !row[1].empty() && row[1].back() == '\n';
            EXPECT_EQ(whole ? r.out : r.out.substr(0, row[1].size()), row[1]) << r.err;
        }
        EXPECT_EQ(r.out.empty(), row[1].empty()) << r.out;
        EXPECT_THAT(r.err, StartsWith(row[2].empty() ? "" : "ryxdir: " + row[2]));
        EXPECT_EQ(r.err.empty(), row[2].empty()) << r.err;
        const size_t lines = std::count(r.err.begin(), r.err.end(), '\n');
        EXPECT_LE(lines, status == 2 ? 2u : 1u) << r.err;
    }
    EXPECT_EQ(readFile(s_dir + "/der/arl-Root_One-1.der"), text(s_arl));
    EXPECT_EQ(readFile(s_dir + "/der/crl-Root_One-1.der"), text(s_crl));
    EXPECT_THAT(readFile(trace), HasSubstr("getCACertificates"));
    EXPECT_THAT(readFile(trace), Not(HasSubstr("BEGIN CERTIFICATE")));
}

// A transfer of seconds (the fake server sends its answer in eight parts, one
// every 500 ms) shows its progress on a terminal, cleared at its end; not with
// -q, and not when standard error is a file.
TEST_F(RyxdirTest, ProgressOnATerminalOnly) {
    FakeServer trickling(FakeServer::Mode::Trickle, std::string(40000, 'x'));
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    const ryx::UniqueFd masterOwner(master), slaveOwner(slave);
    const std::string terminal = ::ttyname(slave);
    // Through a shell, standard error on the terminal, then with -q; then left
    // as it is (a file).
    const std::string onTerminal = "exec \"$0\" \"$@\" 2>" + terminal;
    for (const std::string& line :
         {onTerminal, "exec \"$0\" -q \"$@\" 2>" + terminal, std::string("exec \"$0\" \"$@\"")}) {
        const bool shown = line == onTerminal;
        const auto start = std::chrono::steady_clock::now();
        const Result result = spawntest::run(
            {"/bin/sh", "-c", line, RYXDIR_PATH, "-H", trickling.hostPort(), "ca", "cn=x"}, s_dir);
        std::cout << "transfer took "
                  << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()
                  << " s\n";
        std::string seen = result.err;
        readTerminal(master, seen, "(all of it)", 5);
        const size_t last = seen.rfind(" received, ");
        EXPECT_EQ(last != std::string::npos, shown) << line << seen;
        if (shown) {
            EXPECT_THAT(seen, HasSubstr("ryxdir: 40.1 kB received, "));
            EXPECT_NE(seen.find("\r\033[K", last), std::string::npos) << "cleared: " << seen;
        }
    }
}

TEST_F(RyxdirTest, CheckKeepsThePasswordOutOfTheTrace) {
    const std::string secret = "s3cr3t-Pa55", pwFile = s_dir + "/badpw", trace = s_dir + "/trace";
    writeFile(pwFile, secret + "\n");
    Result bad = run({"-D", s_lab->slapd->rootDN(), "-y", pwFile, "check"},
                     withEnv({"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace}));
    EXPECT_EQ(bad.status, 4);
    EXPECT_THAT(bad.err, StartsWith("ryxdir: error 576009: "));
    EXPECT_THAT(readFile(trace), HasSubstr("LDAPClient::login("));
    EXPECT_THAT(readFile(trace),
                HasSubstr("server " + s_lab->slapd->hostPort() + " from the command line"));
    EXPECT_THAT(readFile(trace) + bad.err, Not(HasSubstr(secret)));
}

TEST_F(RyxdirTest, PromptsForThePasswordWithoutEcho) {
    const ryx::UniqueFd owner(::posix_openpt(O_RDWR | O_NOCTTY));
    const int master = owner.get();
    ASSERT_TRUE(owner && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
    // Opened first in a new session, the pty becomes the controlling terminal.
    RunOptions onTty;
    onTty.stdinPath = ::ptsname(master);
    onTty.setsid = true;
    onTty.timeoutSeconds = 20;
    const pid_t pid = spawntest::start(
        s_lab->command({"-D", s_lab->slapd->rootDN(), "-W", "check"}), s_dir, onTty);
    std::string seen;
    EXPECT_TRUE(readTerminal(master, seen, "Enter LDAP password: ", 200)) << seen;
    bool echoOff = false;
    termios mode{};
    for (int i = 0; i < 100 && !echoOff; ++i, ::usleep(20000)) {
        echoOff = ::tcgetattr(master, &mode) == 0 && (mode.c_lflag & ECHO) == 0;
    }
    EXPECT_TRUE(echoOff);
    const std::string line = s_lab->slapd->rootPassword() + "\n";
    EXPECT_EQ(::write(master, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    Result r = spawntest::finish(pid, s_dir, onTty);
    readTerminal(master, seen, "\n", 200);  // the line end after the password, and any echo
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, EndsWith(" is valid\n"));
    EXPECT_THAT(seen + r.out + r.err, Not(HasSubstr(s_lab->slapd->rootPassword())));
}

TEST_F(RyxdirTest, FullDiskLeavesNoFile) {
    // A 16 KiB tmpfs in a private mount namespace, and a list of about 100 KiB.
    const std::string full = s_dir + "/full";
    ASSERT_EQ(::mkdir(full.c_str(), 0700), 0);
    const std::string command =
        "mount -t tmpfs -o size=16k tmpfs " + full + " && " RYXDIR_PATH " -H 127.0.0.1 -p " +
        std::to_string(s_lab->slapd->port()) + " -f der -o " + full + " crl '" + kBigDN +
        "'; status=$?; ls -A " + full + " >&2; exit $status";
    Result r = spawntest::run({"unshare", "-m", "sh", "-c", command}, s_dir);
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.err, "ryxdir: cannot write \"" + full +
                         "/crl-Root_One-1.der\": No space left on device\n");
}

// --batch: one result line per operand line, blank lines passed over, a bad
// line reported without ending the run (unless --stop-on-error), the exit
// status the highest of the lines'.
TEST_F(RyxdirTest, BatchAnswersEveryLine) {
    const std::string input = s_dir + "/batch-input";
    writeFile(input, kRootDN + "\n\n  cn=Nobody,dc=example,dc=com\ncn=x,,\r\n" +
                         std::string("cn=a\0b", 6) + "\ncn=\x1b[2J\x7f\\\n" + kRootDN);
    RunOptions options;
    options.stdinPath = input;
    for (const auto& row : cases("batch.tsv", {})) {
        std::istringstream words(row[1]);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        Result r = run(args, options);
        EXPECT_EQ(r.status, std::stoi(row[0])) << r.err;
        std::istringstream out(r.out);
        std::string line;
        for (auto start = row.begin() + 2; start != row.end(); ++start) {
            ASSERT_TRUE(std::getline(out, line)) << r.out;
            EXPECT_THAT(line, StartsWith(*start));
            if (args[0] == "-f") {
                EXPECT_TRUE(spawntest::parsesAsJson(line, s_dir)) << line;
            }
        }
        EXPECT_FALSE(std::getline(out, line)) << "one line per operand: " << line;
        EXPECT_THAT(r.err, Not(HasSubstr("\x1b"))) << "escaped on standard error too";
    }
}

// A run loads what its command needs: OpenLDAP's SASL mechanisms stay out (the
// plug-in binds simply), and OpenSSL's configuration is read when OPENSSL_CONF
// names one (here one that adds an attribute type).
TEST_F(RyxdirTest, StartUpTakesWhatTheCommandNeeds) {
    Result traced = run({"ca", kRootDN}, withEnv({"LD_DEBUG=files"}));
    EXPECT_EQ(traced.status, 0);
    EXPECT_THAT(traced.err, HasSubstr("libldap")) << "the loader reported";
    EXPECT_THAT(traced.err, Not(HasSubstr("/sasl2/")));
    // The plug-in reaches the LDAP library ryxdir links: one copy, set up once.
    EXPECT_EQ(occurrences(traced.err, "calling init: ", "libryx8ldap.so"), 1u);

    const std::string conf = s_dir + "/openssl.cnf";
    writeFile(conf,
              "openssl_conf = init\n[init]\noid_section = oids\n"
              "[oids]\nlabAttribute = 1.3.6.1.4.1.99999.1\n");
    Result configured = run({"-e", "2", "ca", "labAttribute=x,dc=example,dc=com"},
                            withEnv({"OPENSSL_CONF=" + conf}));
    EXPECT_EQ(configured.status, 1) << configured.err;
}

// Without -H and -p the server comes from OpenLDAP's files and variables, as
// its tools read them, and -v says from where. In each row only the source
// that should win names the live server (a second one, without TLS); the
// others name a closed port. The files' order is tested with the library.
TEST_F(RyxdirTest, DefaultServerAsOpenLdapsToolsFindIt) {
    LabSlapd plain;
    plain.start();
    const std::string live = "ldap://" + plain.hostPort(), dead = "ldap://127.0.0.1:1";
    const std::string home = s_dir + "/home", conf = s_dir + "/ldap.conf";
    const auto rows = cases("default-server.tsv", {{"LIVE", live},
                                                   {"DEAD", dead},
                                                   {"HOME", home},
                                                   {"CONF", conf},
                                                   {"PLAIN", plain.hostPort()}});
    for (const auto& r : rows) {
        std::filesystem::remove_all(home);
        std::filesystem::create_directories(home);
        std::filesystem::remove(conf);
        writeFile(home + "/rc", "URI " + live + "\n");  // read only under LDAPRC=rc
        if (!r[1].empty()) {
            writeFile(home + "/.ldaprc", "URI " + r[1] + "\n");
        }
        if (!r[2].empty()) {
            writeFile(conf, "URI " + r[2] + "\n");
        }
        std::vector<std::string> argv{RYXDIR_PATH};
        argv.insert(argv.end(), r.begin() + 6, r.end());
        argv.push_back("check");
        RunOptions options = withEnv({"HOME=" + home, "RYX_LDAP_TIMEOUT=10"});
        std::istringstream variables(r[5]);
        options.env.insert(options.env.end(), std::istream_iterator<std::string>(variables), {});
        const Result got = spawntest::run(argv, s_dir, options);
        if (r[3] != "-1") {  // -1: whatever localhost:389 answers
            EXPECT_EQ(got.status, std::stoi(r[3])) << r[0] << ": " << got.err;
        }
        EXPECT_THAT(got.err, HasSubstr(r[4])) << r[0];
        EXPECT_EQ(got.err.find("warning:"), got.err.rfind("warning:")) << r[0] << got.err;
    }
}

// verify: the exit status and verdict of each scenario, where the chain and
// its lists came from, as text and as JSON.
TEST_F(RyxdirTest, VerifyVerdicts) {
    writeFile(s_dir + "/garbage.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n");
    writeFile(s_dir + "/empty.pem", "");
    // A month on: past the lists' next update, before the certificates expire.
    const std::string month = "--at=" + std::to_string(labpki::fromNow(30 * 86400));
    for (const auto& row : cases("verify.tsv", {{"MONTH", month}})) {
        const std::string file = s_dir + "/" + row[0], verdict = row[4];
        const int status = std::stoi(row[3]);
        SCOPED_TRACE(row[0] + " " + verdict);
        std::vector<std::string> args{"verify", "--trust", s_dir + "/" + row[1], file};
        if (!row[2].empty()) {
            args.push_back(row[2]);
        }
        Result r = run(args);
        EXPECT_EQ(r.status, status) << r.out << r.err;
        for (auto also = row.begin() + 5; also != row.end(); ++also) {
            EXPECT_THAT(status == 2 ? r.err : r.out, HasSubstr(*also));
        }
        if (status == 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
            continue;
        }
        EXPECT_THAT(r.out, HasSubstr("\nverdict: " + verdict + "\n"));
        EXPECT_THAT(r.out, HasSubstr(" from file " + file + "\n"));
        if (status != 0) {
            EXPECT_THAT(r.err, StartsWith("ryxdir: " + file + ": " + verdict));
        }
        args.insert(args.begin(), {"-f", "json"});
        Result json = run(args);
        EXPECT_EQ(json.status, status);
        EXPECT_TRUE(spawntest::parsesAsJson(json.out, s_dir)) << json.out;
        EXPECT_THAT(json.out, HasSubstr("\"source\": {\n        \"file\": \"" + file + "\"\n"));
        if (r.out.find(" from entry CN=") != std::string::npos) {
            EXPECT_THAT(json.out, HasSubstr("\"source\": {\n        \"entry\": \"CN="));
        }
    }
}

// verify with several files and with --batch: one result each, the highest
// status, and one connection (the entry and exit records of one bind).
TEST_F(RyxdirTest, VerifyManyOnOneConnection) {
    writeFile(s_dir + "/alice-and-bob.pem",
              readFile(s_dir + "/alice.pem") + readFile(s_dir + "/bob.pem"));
    const std::string trace = s_dir + "/many.trace";
    RunOptions options = withEnv({"RYX_TRACE=1", "RYX_TRACE_FILE=" + trace});
    options.stdinPath = s_dir + "/verify-input";
    for (const auto& row : cases("verify-many.tsv", {})) {
        writeFile(options.stdinPath, row[1]);
        std::filesystem::remove(trace);
        std::istringstream words(row[2]);
        std::vector<std::string> args{"verify", "--trust", s_dir + "/root1.pem"};
        args.insert(args.end(), std::istream_iterator<std::string>(words), {});
        Result r = run(args, options);
        EXPECT_EQ(r.status, std::stoi(row[0])) << r.err;
        for (auto part = row.begin() + 3; part != row.end(); ++part) {
            EXPECT_THAT(r.out, HasSubstr(*part)) << row[2];
        }
        EXPECT_EQ(occurrences(readFile(trace), "LDAPClient::login(", ""), 2u) << row[2];
    }
}

// status judges each list; ou=Many's entries are more than a search without
// pages sees (its plug-in lines and JSON documents are rows of runs.tsv).
TEST_F(RyxdirTest, StatusJudgesEachList) {
    const Result plain = spawntest::run(
        {"ldapsearch", "-x", "-LLL", "-H", s_lab->slapd->url(), "-b", kMany, "cn"}, s_lab->dir);
    EXPECT_EQ(plain.status, 4) << "size limit exceeded\n" << plain.err;
    const std::string at = std::to_string(labpki::referenceTime());
    const Result r = run({"status", "--at", at, kStatus.substr(1)});
    EXPECT_EQ(r.status, 6) << r.err;
    for (const auto& c : cases("status-lists.tsv", {})) {
        // The list's line: state, kind and number, then its entry, then why.
        EXPECT_THAT(r.out, ContainsRegex("(^|\n)" + c[3] + " +" + c[1] + " +" + c[2] +
                                         " [^\n]*cn=" + c[0] + kStatus + "[^\n]*" + c[4]));
    }
    EXPECT_THAT(r.out, HasSubstr(std::to_string(kManyEntries + 8) + " lists: " +
                                 std::to_string(kManyEntries + 3) + " OK, 1 WARNING, 4 CRITICAL"));
}

}  // namespace
