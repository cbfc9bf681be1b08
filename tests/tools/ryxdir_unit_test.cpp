// ryxdir's parts that need no directory: JSON text, times, atomic files, the
// command line (whose -H takes the LDAP library's host lists, tested there) and
// the documentation made from its tables, ryxlab's too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
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
#include "runprogram.h"
#include "ryxlabcli.h"
#include "status.h"
#include "terminal.h"
#include "timetext.h"

namespace {

using namespace ryxdir;

std::vector<std::vector<std::string>> cases(const char* name) {
    return spawntest::readCases(std::string(RYX_TOOLS_CASES) + "/" + name);
}

// Text made from each row's first field: JSON strings, escaped and always
// UTF-8; byte counts in decimal units; names as OpenSSL prints them, read back
// and written in LDAP form (anything else is no print form).
TEST(RyxdirText, MadeFromEachRow) {
    const std::map<std::string, std::function<std::string(const std::string&)>> made = {
        {"json-strings.tsv", jsonQuoted},
        {"byte-counts.tsv", [](const std::string& n) { return byteText(std::stoull(n)); }},
        {"printed-names.tsv", ldapFormOfPrinted}};
    for (const auto& [file, make] : made) {
        for (const auto& row : cases(file.c_str())) {
            EXPECT_EQ(make(row[0]), row[1]) << file << ": " << row[0];
        }
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
    for (const auto& row : cases("times.tsv")) {
        std::time_t when = -1;
        EXPECT_EQ(parseTime(row[0], when), !row[1].empty()) << row[0];
        EXPECT_EQ(when, row[1].empty() ? -1 : std::stoll(row[1])) << row[0];
    }
}

TEST(RyxdirAtomicFile, WritesWholeFilesAndNeverThroughLinks) {
    char pattern[] = "/tmp/ryxdir-atomic-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_EQ(::symlink((dir + "/a.der").c_str(), (dir + "/link.der").c_str()), 0);
    ASSERT_EQ(::mkdir((dir + "/sub").c_str(), 0700), 0);
    for (const auto& row : cases("atomic-writes.tsv")) {
        int status = 0;
        try {
            writeFileAtomically(dir + "/" + row[0], row[1].data(), row[1].size(),
                                row[2] == "refuse" ? Existing::Refuse : Existing::Replace);
        } catch (const Failure& f) {
            status = f.status;
        }
        EXPECT_EQ(status, std::stoi(row[3])) << row[1];
    }
    EXPECT_EQ(spawntest::readFile(dir + "/a.der"), "second");
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        names.insert(e.path().filename());
    }
    EXPECT_EQ(names, (std::set<std::string>{"a.der", "b.der", "link.der", "sub"}))
        << "no temporary left";
    std::filesystem::remove_all(dir);
}

// "ryxdir" and a row's arguments, as main() gets them; the row outlives them.
std::vector<char*> argvOf(std::vector<std::string>& row) {
    row[0] = "ryxdir";
    std::vector<char*> argv;
    for (std::string& a : row) {
        argv.push_back(a.data());
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

// File names hold safe characters only and never repeat within a run.
TEST(RyxdirFileNames, SafeAndUnique) {
    for (const auto& row : cases("file-labels.tsv")) {
        const std::string label = nameLabel(RYXASNx500Name(row[0].c_str()).native());
        if (!row[1].empty()) {
            EXPECT_EQ(label, row[1]) << row[0];
        } else {
            EXPECT_EQ(label.size(), 8u) << label;
            EXPECT_EQ(label.find_first_not_of("0123456789abcdef"), std::string::npos) << label;
        }
    }
    FileNamer namer;
    EXPECT_EQ(namer.next("ca", "A", ""), "ca-A-1.der");
    EXPECT_EQ(namer.next("ca", "A", ""), "ca-A-2.der");
    EXPECT_EQ(namer.next("crl", "A", "7"), "crl-A-7.der");
    EXPECT_EQ(namer.next("crl", "A", "7"), "crl-A-7-1.der");
}

TEST(RyxdirCommandLine, OptionsAndOperands) {
    for (auto row : cases("command-line.tsv")) {
        const std::string expected = row[0];
        std::vector<char*> argv = argvOf(row);
        std::string result;
        try {
            result = summary(parseCommandLine(static_cast<int>(argv.size()), argv.data()));
        } catch (const Failure& f) {
            EXPECT_EQ(f.status, EXIT_USAGE);
            result = f.message.substr(0, expected.size());
        }
        EXPECT_EQ(result, expected) << ::testing::PrintToString(row);
    }
    // The format asked for, read from lines that fail to parse (for a usage
    // error in JSON).
    for (auto row : cases("command-line-format.tsv")) {
        const std::string expected = row[0];
        std::vector<char*> argv = argvOf(row);
        EXPECT_EQ(cmdline::lastValue(program(), static_cast<int>(argv.size()), argv.data(), "-f"),
                  expected)
            << ::testing::PrintToString(row);
    }
    // Messages name the servers of a host list by host and port, TLS ones by URL.
    EXPECT_EQ(describeTargets("a.example [::1]:1389 ldaps://c.example", 389),
              "a.example:389 [::1]:1389 ldaps://c.example");
}

// The help, the man page and the bash completion of each program tell of every
// command and option of its tables; the man page passes groff's checks and the
// completion bash's, and completes a value and a command.
TEST(CommandLineDocs, EveryOptionInHelpManPageAndCompletion) {
    const std::string dir = ::testing::TempDir();
    // What a bash command line writes, to either stream.
    const auto shell = [&dir](const std::string& line) {
        const spawntest::Result r = spawntest::run({"bash", "-c", line}, dir);
        return r.out + r.err;
    };
    const auto complete = [&](const std::string& name, const std::string& words, int word) {
        return shell(". " + dir + "/" + name + "; COMP_WORDS=(" + name + " " + words +
                     "); COMP_CWORD=" + std::to_string(word) + "; _" + name +
                     "; echo \"${COMPREPLY[*]}\"");
    };
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
        std::vector<const cmdline::Option*> tables = p->general;
        for (const cmdline::Command* c : p->commands) {
            names.emplace_back(c->name);
            tables.push_back(c->options);
        }
        for (const cmdline::Option* table : tables) {
            for (const cmdline::Option* o = table; o && o->name; ++o) {
                names.emplace_back(o->name);
            }
        }
        for (const std::string& name : names) {
            const std::string roff = std::regex_replace(name, std::regex("-"), "\\-");
            EXPECT_NE(help.find("  " + name), std::string::npos) << name;
            EXPECT_NE(man.find("\\fB" + roff + "\\fR"), std::string::npos) << name;
            EXPECT_NE(bash.find(" " + name), std::string::npos) << name;
        }
        const std::string manFile = dir + "/" + p->name + ".1", bashFile = dir + "/" + p->name;
        spawntest::writeFile(manFile, man);
        spawntest::writeFile(bashFile, bash);
        if (shell("command -v groff").find("groff") != std::string::npos) {
            EXPECT_EQ(shell("groff -man -Tutf8 -ww -z " + manFile + " && echo passed"), "passed\n");
        }
        EXPECT_EQ(complete(p->name, row.prefix, 1), std::string(row.completed) + "\n");
    }
    EXPECT_EQ(complete("ryxdir", "-f \"\"", 2), "pem der text json\n");
}

}  // namespace
