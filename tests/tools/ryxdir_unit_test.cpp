// ryxdir's parts that need no directory: JSON text, times, atomic files, the
// command line (whose -H takes the LDAP library's host lists, tested there) and
// the documentation made from its tables, ryxlab's too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "atomicfile.h"
#include "commands.h"
#include "describe.h"
#include "filenames.h"
#include "hosts.h"
#include "json.h"
#include "labpki.h"
#include "names.h"
#include "ryxlabcli.h"
#include "status.h"
#include "terminal.h"
#include "timetext.h"

namespace {

using namespace ryxdir;

TEST(RyxdirJson, StringsAreEscapedAndAlwaysUtf8) {
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        {"a\"b\\c/d", "\"a\\\"b\\\\c/d\""},
        {"\n\t\r", "\"\\n\\t\\r\""},
        {std::string("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x94\x91\""},
        {"\xff", "\"\xef\xbf\xbd\""},                                  // not UTF-8 at all
        {"\xc3", "\"\xef\xbf\xbd\""},                                  // cut short
        {"\xc0\xaf", "\"\xef\xbf\xbd\xef\xbf\xbd\""},                  // overlong
        {"\xed\xa0\x80", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},  // surrogate
        {"\xf4\x90\x80\x80x", "\"\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdx\""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(jsonQuoted(row.in), row.out) << row.in;
    }
}

// A list's line and JSON made from what the toolkit keeps of it are those
// OpenSSL's decoded object gives.
TEST(RyxdirDescribe, ListLineWithoutOpenSSLsObject) {
    const labpki::Authority ca = labpki::Authority::root("cn=Lines CA,o=Example,c=DE");
    labpki::CrlOptions plain, large, zero, noNext;
    plain.revokedCount = 3;
    large.crlNumber = 0xfedcba9876543210ULL;  // more than a long
    zero.crlNumber = 0;
    noNext.hasNextUpdate = false;
    for (const labpki::CrlOptions& options : {plain, large, zero, noNext}) {
        const labpki::Bytes der = ca.crl(options);
        RYXASNCertificateList list(RYXASN_SECURITY_NONE);
        list.decodeDER(der.data(), der.size());
        const labpki::CrlPtr crl = labpki::crlFromDER(der);
        EXPECT_EQ(crlText(list), crlText(crl.get()));
        JsonWriter fromList(true), fromOpenSSL(true);
        for (auto* json : {&fromList, &fromOpenSSL}) {
            json->beginObject();
            json == &fromList ? crlJson(*json, list) : crlJson(*json, crl.get());
            json->endObject();
        }
        EXPECT_EQ(fromList.text(), fromOpenSSL.text());
    }
}

TEST(RyxdirTime, AcceptsIsoUtcAndEpochSecondsOnly) {
    const std::time_t kRefused = -1;
    const struct {
        const char* text;
        std::time_t when;
    } rows[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-02-29T12:00:00Z", 951825600},
        {"2038-01-19T03:14:08Z", 2147483648LL},
        {"1700000000", 1700000000},
        {"2027-02-29T00:00:00Z", kRefused},
        {"2026-13-01T00:00:00Z", kRefused},
        {"2026-12-07T24:00:00Z", kRefused},
        {"2026-12-07 11:26:51Z", kRefused},
        {"2026-12-07T11:26:51", kRefused},
        {"2026-12-07T11:26:51+01:00", kRefused},
        {"", kRefused},
        {"-5", kRefused},
        {"12a", kRefused},
        {"9999999999999", kRefused},
    };
    for (const auto& row : rows) {
        std::time_t when = kRefused;
        EXPECT_EQ(parseTime(row.text, when), row.when != kRefused) << row.text;
        EXPECT_EQ(when, row.when) << row.text;
    }
}

TEST(RyxdirProgress, ByteCountsInDecimalUnits) {
    const struct {
        unsigned long long bytes;
        const char* text;
    } rows[] = {
        {999, "999 bytes"},       {1000, "1.0 kB"},    {999949, "999.9 kB"},
        {999950, "1.0 MB"},       {1234567, "1.2 MB"}, {21000000000ULL, "21.0 GB"},
        {~0ULL, "18446744.1 TB"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(byteText(r.bytes), r.text) << r.bytes;
    }
}

TEST(RyxdirAtomicFile, WritesWholeFilesAndNeverThroughLinks) {
    char pattern[] = "/tmp/ryxdir-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const auto write = [&](const std::string& name, const std::string& bytes,
                           Existing existing = Existing::Replace) {
        try {
            writeFileAtomically(dir + "/" + name, bytes.data(), bytes.size(), existing);
            return 0;
        } catch (const Failure& f) {
            return f.status;
        }
    };
    EXPECT_EQ(write("a.der", "first"), 0);
    EXPECT_EQ(write("a.der", "second"), 0);
    ASSERT_EQ(::symlink((dir + "/a.der").c_str(), (dir + "/link.der").c_str()), 0);
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
    EXPECT_EQ(write("link.der", "through the link"), EXIT_OUTPUT);
    EXPECT_EQ(write("sub", "over a folder"), EXIT_OUTPUT);
    EXPECT_EQ(write("missing/a.der", "no folder"), EXIT_OUTPUT);
    EXPECT_EQ(write("a.der", "not forced", Existing::Refuse), EXIT_OUTPUT);
    EXPECT_EQ(write("b.der", "new", Existing::Refuse), 0);
    std::ifstream in(dir + "/a.der");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "second");
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.insert(e.path().filename());
    }
    EXPECT_EQ(names, (std::set<std::string>{"a.der", "b.der", "link.der", "sub"}))
        << "no temporary left";
    std::filesystem::remove_all(dir);
}

// "ryxdir" and args, as main() gets them.
std::vector<char*> argvOf(const std::vector<const char*>& args) {
    std::vector<char*> argv{const_cast<char*>("ryxdir")};
    for (const char* a : args) {
        argv.push_back(const_cast<char*>(a));
    }
    return argv;
}

// What a parse gave, in a few words: what the rows below compare.
std::string summary(const Settings& s) {
    if (s.help || s.version) {
        return s.help ? "help" : "version";
    }
    const ConnectionSettings& c = s.connection;
    std::string text = std::string(s.command->line.name) + " p=" + std::to_string(c.port) +
                       " Z=" + std::to_string(static_cast<int>(c.startTls)) +
                       (c.promptPassword ? " W" : "") + (c.bindDN.empty() ? "" : " D=" + c.bindDN) +
                       (s.formatName.empty() ? "" : " f=" + s.formatName);
    for (const std::string& operand : s.operands) {
        text += " [" + operand + "]";
    }
    return text;
}

// Names as OpenSSL prints them, read back and written in LDAP form; anything
// else is no print form.
TEST(RyxdirNames, PrintFormsInLdapForm) {
    const struct {
        const char* printed;
        const char* ldap;  // "": not a print form
    } rows[] = {
        {"C = DE, O = Example, CN = X", "CN=X,O=Example,C=DE"},
        {"C = DE, O = \"Example, Inc.\", CN = X", "CN=X,O=Example\\, Inc.,C=DE"},
        {"CN = caf\\C3\\A9 \\+ co", "CN=caf\\C3\\A9 \\+ co"},
        {"/C=DE/O=Example/CN=X\\/Y", "CN=X/Y,O=Example,C=DE"},
        {"CN=X,O=Example,C=DE", ""},
        {"CN=a = b", ""},
        {"C = DE, NOSUCHTYPE = y", ""},
        {"/", ""},
        {"", ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ldapFormOfPrinted(row.printed), row.ldap) << row.printed;
    }
}

// File names hold safe characters only and never repeat within a run.
TEST(RyxdirFileNames, SafeAndUnique) {
    const struct {
        const char* name;
        const char* label;  // null: the name's hash
    } labels[] = {
        {"CN=Root One,O=Example", "Root_One"}, {"CN=../x y\\;rm,O=Example", "x_y_rm"},
        {"CN=Inner,CN=Outer", "Inner"},        {"CN=-rf,O=Example", "rf"},
        {"CN=\\C3\\A9t\\C3\\A9", "t"},         {"O=Example,C=DE", nullptr},
    };
    for (const auto& row : labels) {
        const RYXASNx500Name name(row.name);
        const std::string label = nameLabel(name.native());
        if (row.label != nullptr) {
            EXPECT_EQ(label, row.label) << row.name;
        } else {
            EXPECT_EQ(label.size(), 8u) << label;
            EXPECT_EQ(label.find_first_not_of("0123456789abcdef"), std::string::npos) << label;
        }
    }
    FileNamer namer;
    const char* const expected[] = {"ca-A-1.der", "ca-A-2.der", "crl-A-7.der", "crl-A-7-1.der"};
    const std::string got[] = {namer.next("ca", "A", ""), namer.next("ca", "A", ""),
                               namer.next("crl", "A", "7"), namer.next("crl", "A", "7")};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(got[i], expected[i]);
    }
}

TEST(RyxdirCommandLine, OptionsAndOperands) {
    const struct {
        std::vector<const char*> args;
        const char* result;  // the summary, or how the failure's message starts
    } rows[] = {
        {{"-WZ", "-xD", "cn=a", "-p389", "check"}, "check p=389 Z=1 W D=cn=a"},
        {{"-ZZ", "check"}, "check p=389 Z=2"},
        {{"-Z", "check", "-Z"}, "check p=389 Z=2"},
        {{"-ZxZZ", "-fjson", "check"}, "check p=389 Z=2 f=json"},
        {{"-p", "636", "-Dcn=b", "check"}, "check p=636 Z=0 D=cn=b"},
        {{"-p"}, "option -p needs PORT"},
        {{"-Wp"}, "option -p needs PORT"},
        {{"-p", "99999", "check"}, "bad port \"99999\""},
        {{"-h"}, "help"},
        {{"--help"}, "help"},
        {{"--version"}, "version"},
        {{"-h", "127.0.0.1", "-p", "389", "check"}, "-h stands alone"},
        {{"check", "-Wh"}, "-h stands alone"},
        {{"--version", "check"}, "--version stands alone"},
        {{"-Q", "check"}, "unknown option \"-Q\""},
        {{"--quiet", "check"}, "unknown option \"--quiet\""},
        {{"check", "--", "-f"}, "unexpected argument \"-f\""},
        {{"verify", "--", "-a.pem", "b.pem"}, "verify p=389 Z=0 [-a.pem] [b.pem]"},
        {{"verify", "--trust", "t.pem", "--crl-optional", "c.pem"}, "verify p=389 Z=0 [c.pem]"},
        {{"-f", "json", "verify", "c.pem", "--at=1700000000"}, "verify p=389 Z=0 f=json [c.pem]"},
        {{"--trust", "t.pem", "verify", "c.pem"}, "option --trust belongs to command verify"},
        {{"ca", "--crl-optional", "CN=x"}, "option --crl-optional belongs to command verify"},
        {{"verify", "--crl-optional=yes", "c.pem"}, "option --crl-optional takes no value"},
        {{"-f", "pem", "verify", "c.pem"}, "command verify writes text json, not pem"},
        {{"verify", "--at", "tomorrow", "c.pem"}, "bad time \"tomorrow\""},
        {{"verify"}, "command verify needs CERT-FILE"},
        {{"-H", " ", "check"}, "-H needs at least one host"},
        {{"-H", "a/b", "check"}, "-H: \"a/b\" is not a host name or address"},
        {{"-f", "yaml", "check"}, "unknown format \"yaml\""},
        {{"--batch", "crl", "CN=x"}, "unexpected argument \"CN=x\""},
        {{"--batch", "check"}, "command check has no batch mode"},
        {{"--batch", "-f", "pem", "ca"}, "--batch writes text or json, not pem"},
        {{"ca", "--stop-on-error", "CN=x"}, "option --stop-on-error needs --batch"},
        {{"--force", "ca", "CN=x"}, "option --force needs -o"},
        {{"user", "--issuer-of", "c.pem"}, "option --issuer-of belongs to command"},
        {{"--batch", "ca", "--issuer-of", "/nonexistent.pem"}, "cannot read certificate file"},
        {{}, "no command given"},
    };
    for (const auto& row : rows) {
        std::vector<char*> argv = argvOf(row.args);
        std::string result;
        try {
            result = summary(parseCommandLine(static_cast<int>(argv.size()), argv.data()));
        } catch (const Failure& f) {
            EXPECT_EQ(f.status, EXIT_USAGE);
            result = f.message.substr(0, std::string(row.result).size());
        }
        EXPECT_EQ(result, row.result) << ::testing::PrintToString(row.args);
    }
    // The format asked for, read from lines that fail to parse (for a usage
    // error in JSON).
    const struct {
        std::vector<const char*> args;
        const char* format;
    } formats[] = {
        {{"-Q", "-xfjson", "check"}, "json"},
        {{"-f", "text", "-Q", "-f", "json"}, "json"},
        {{"-Df", "json", "-Q"}, ""},
        {{"-Q", "--", "-f", "json"}, ""},
        {{"--trust", "-f", "-f", "pem"}, "pem"},
        {{"-p", "-f", "json"}, ""},
    };
    for (const auto& row : formats) {
        std::vector<char*> argv = argvOf(row.args);
        EXPECT_EQ(cmdline::lastValue(program(), static_cast<int>(argv.size()), argv.data(), "-f"),
                  row.format)
            << ::testing::PrintToString(row.args);
    }
    // Messages name the servers of a host list by host and port, TLS ones by URL.
    EXPECT_EQ(describeTargets("a.example [::1]:1389 ldaps://c.example", 389),
              "a.example:389 [::1]:1389 ldaps://c.example");
}

// The output of a shell command line and its exit status.
std::pair<std::string, int> shell(const std::string& line) {
    std::string out;
    FILE* pipe = ::popen((line + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return {"popen failed", -1};
    }
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        out.append(buffer, n);
    }
    return {out, ::pclose(pipe)};
}

// The help, the man page and the bash completion of each program tell of every
// command and option of its tables; the man page passes groff's checks and the
// completion bash's, and completes a value and a command.
TEST(CommandLineDocs, EveryOptionInHelpManPageAndCompletion) {
    const std::string dir = ::testing::TempDir();
    const struct {
        const cmdline::Program* program;
        const char* prefix;     // of a command
        const char* completed;  // the commands it completes to
    } rows[] = {{&ryxdir::program(), "c", "ca crl check"},
                {&ryxlab::program(), "sta", "start status"}};
    for (const auto& row : rows) {
        const cmdline::Program* p = row.program;
        SCOPED_TRACE(p->name);
        const std::string help = cmdline::usageText(*p), man = cmdline::manPage(*p),
                          bash = cmdline::bashCompletion(*p);
        std::vector<std::string> names;
        for (const cmdline::Command* c : p->commands) {
            names.emplace_back(c->name);
            for (const cmdline::Option* o = c->options; o && o->name; ++o) {
                names.emplace_back(o->name);
            }
        }
        for (const cmdline::Option* table : p->general) {
            for (const cmdline::Option* o = table; o->name != nullptr; ++o) {
                names.emplace_back(o->name);
            }
        }
        for (const std::string& name : names) {
            std::string roff;
            for (char c : name) {
                roff += c == '-' ? std::string("\\-") : std::string(1, c);
            }
            EXPECT_NE(help.find("  " + name), std::string::npos) << name;
            EXPECT_NE(man.find("\\fB" + roff + "\\fR"), std::string::npos) << name;
            EXPECT_NE(bash.find(" " + name), std::string::npos) << name;
        }
        const std::string manFile = dir + "/" + p->name + ".1", bashFile = dir + "/" + p->name;
        std::ofstream(manFile) << man;
        std::ofstream(bashFile) << bash;
        if (shell("command -v groff").second == 0) {
            EXPECT_EQ(shell("groff -man -Tutf8 -ww -z " + manFile),
                      std::make_pair(std::string(), 0));
        }
        const std::string complete = ". " + bashFile + "; COMP_WORDS=(" + p->name +
                                     " $W); COMP_CWORD=$C; _" + p->name +
                                     "; echo \"${COMPREPLY[*]}\"";
        EXPECT_EQ(shell(std::string("W=") + row.prefix + " C=1 bash -c '" + complete + "'").first,
                  std::string(row.completed) + "\n");
    }
    EXPECT_EQ(shell("bash -c '. " + dir +
                    "/ryxdir; COMP_WORDS=(ryxdir -f \"\"); COMP_CWORD=2; "
                    "_ryxdir; echo \"${COMPREPLY[*]}\"'")
                  .first,
              "pem der text json\n");
}

}  // namespace
