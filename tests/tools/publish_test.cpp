// ryxdir publish run as an operator runs it, on both kinds of directory: the
// stock schema (values under "NAME;binary") and the octet-string one (plain
// names). Each row changes the directory for the rows after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "runprogram.h"

namespace {

using labpki::Authority;
using labpki::Bytes;
using spawntest::Result;
using ::testing::HasSubstr;

const std::string kSuffix = ",dc=example,dc=com";
const std::string kCaDN = "cn=Pub CA" + kSuffix;

labpki::CrlOptions numbered(std::uint64_t number, long nextUpdate = 7 * 86400) {
    labpki::CrlOptions o;
    o.revokedCount = 2;  // the entries are passed over when a list is ordered
    o.crlNumber = number;
    o.thisUpdate = labpki::fromNow(nextUpdate < 0 ? nextUpdate - 86400 : 0);
    o.nextUpdate = labpki::fromNow(nextUpdate);
    return o;
}

struct Row {
    const char* what;
    std::vector<std::string> args;  // after the server and bind options
    int status;
    std::string said;                     // part of standard output or error
    std::vector<std::string> check = {};  // a ryxdir command run afterwards (none: empty)
    std::string shows = {};               // part of its output
};

class Publish : public ::testing::TestWithParam<LabSlapd::Schema> {
  protected:
    void SetUp() override {
        m_slapd = std::make_unique<LabSlapd>(GetParam());
        m_slapd->start();
        m_dir = m_slapd->directory() + "/publish";
        ASSERT_EQ(::mkdir(m_dir.c_str(), 0700), 0);
        const bool stock = GetParam() == LabSlapd::Schema::Stock;
        const std::string option = stock ? ";binary" : "";
        m_slapd->addEntry(kCaDN,
                          {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"Pub CA"}},
                           {"cACertificate" + option, {text(m_ca.certificateDER())}},
                           {"certificateRevocationList" + option, {text(m_ca.crl(numbered(5)))}}});
        write("n4.crl", labpki::crlPEM(m_ca.crl(numbered(4))));
        write("n5.crl", text(m_ca.crl(numbered(5))));
        write("n6.crl", labpki::crlPEM(m_ca.crl(numbered(6))));
        write("n8-expired.crl", labpki::crlPEM(m_ca.crl(numbered(8, -3600))));
        write("arl.crl", labpki::crlPEM(m_ca.arl(numbered(3))));
        // Same name, other key (and serial: the stock schema takes issuer and serial
        // for a certificate's identity).
        const Authority impostor = Authority::root(kCaDN, Authority::caDefaults(2));
        write("impostor.crl", labpki::crlPEM(impostor.crl(numbered(9))));
        write("ca.pem", labpki::certificatePEM(m_ca.certificateDER()));
        write("rekeyed.pem", labpki::certificatePEM(impostor.certificateDER()));
        write("user.pem", labpki::certificatePEM(m_ca.issue("cn=User" + kSuffix, 77)));
        write("garbage.crl", "-----BEGIN X509 CRL-----\nAAAA\n-----END X509 CRL-----\n");
    }

    static std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }
    void write(const std::string& name, const std::string& bytes) {
        spawntest::writeFile(m_dir + "/" + name, bytes);
    }
    Result run(const std::vector<std::string>& args, bool bind = true) {
        std::vector<std::string> argv{RYXDIR_PATH, "-H", m_slapd->host(), "-p",
                                      std::to_string(m_slapd->port())};
        if (bind) {
            argv.insert(argv.end(), {"-D", m_slapd->rootDN(), "-w", m_slapd->rootPassword()});
        }
        for (const std::string& a : args) {
            const bool file = a.size() > 4 && (a.compare(a.size() - 4, 4, ".crl") == 0 ||
                                               a.compare(a.size() - 4, 4, ".pem") == 0);
            argv.push_back(file ? m_dir + "/" + a : a);
        }
        return spawntest::run(argv, m_dir);
    }
    void runTable(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            const Result r = run(row.args);
            EXPECT_EQ(row.status, r.status) << row.what << "\n" << r.out << r.err;
            EXPECT_THAT(r.out + r.err, HasSubstr(row.said)) << row.what;
            if (!row.check.empty()) {
                const Result c = run(row.check);
                EXPECT_THAT(c.out, HasSubstr(row.shows)) << row.what << "\n" << c.out << c.err;
            }
        }
    }

    const Authority m_ca = Authority::root(kCaDN);
    std::unique_ptr<LabSlapd> m_slapd;
    std::string m_dir;
};

TEST_P(Publish, RevocationLists) {
    const std::vector<std::string> crls{"-f", "text", "crl", kCaDN};
    const std::string dp = "cn=New DP" + kSuffix;
    const std::string dpUrl =
        m_slapd->url() + "/cn=New%20DP" + kSuffix + "?certificateRevocationList";
    runTable({
        {"older number",
         {"publish", "crl", "n4.crl"},
         11,
         "not greater than number 5",
         crls,
         "number=5"},
        {"equal number", {"publish", "crl", "n5.crl"}, 11, "number 5", crls, "number=5"},
        {"wrong signer",
         {"publish", "crl", "impostor.crl"},
         10,
         "does not verify",
         crls,
         "number=5"},
        {"wrong signer, forced",
         {"publish", "crl", "--force", "impostor.crl"},
         10,
         "does not verify",
         crls,
         "number=5"},
        {"dry run", {"publish", "crl", "-n", "n6.crl"}, 0, "would replace", crls, "number=5"},
        {"newer", {"publish", "crl", "n6.crl"}, 0, "identical", crls, "number=6"},
        {"past next update",
         {"publish", "crl", "n8-expired.crl"},
         12,
         "past its next update",
         crls,
         "number=6"},
        {"past next update, forced",
         {"publish", "crl", "--force", "n8-expired.crl"},
         0,
         "identical",
         crls,
         "number=8"},
        {"older, forced",
         {"publish", "crl", "--force", "n6.crl"},
         0,
         "identical",
         crls,
         "number=6"},
        {"ARL",
         {"publish", "crl", "arl.crl"},
         0,
         "authorityRevocationList",
         {"-f", "text", "arl", kCaDN},
         "number=3"},
        {"missing entry",
         {"publish", "crl", "--entry", dp, "n6.crl"},
         4,
         "--create adds it",
         {},
         ""},
        {"created entry",
         {"publish", "crl", "--create", "--entry", dp, "n6.crl"},
         0,
         "add entry " + dp,
         {"-f", "text", "url",
          m_slapd->url() + "/cn=New%20DP" + kSuffix + "?certificateRevocationList"},
         "number=6"},
        {"URL of a distribution point",
         {"publish", "crl", "--to", dpUrl, "n8-expired.crl", "--force"},
         0,
         "replace certificateRevocationList",
         {"-f", "text", "url", dpUrl},
         "number=8"},
        {"not DER", {"publish", "crl", "garbage.crl"}, 9, "no well-formed DER", {}, ""},
        {"issuer certificate given",
         {"publish", "crl", "--issuer-cert", "rekeyed.pem", "n8-expired.crl"},
         10,
         "does not verify",
         {},
         ""},
    });
    const Result anonymous = run({"publish", "crl", "n6.crl"}, false);
    EXPECT_EQ(2, anonymous.status);
    EXPECT_THAT(anonymous.err, HasSubstr("bind with -D"));
}

TEST_P(Publish, Certificates) {
    const std::string user = "cn=User" + kSuffix;
    const auto caCount = [&] {
        const std::string out = run({"-f", "text", "ca", kCaDN}).out;
        return std::count(out.begin(), out.end(), '\n');
    };
    runTable({{"a second CA certificate", {"publish", "cert", "rekeyed.pem"}, 0, "identical"},
              {"not twice", {"publish", "cert", "rekeyed.pem"}, 0, "nothing to do"}});
    EXPECT_EQ(2, caCount());
    runTable({
        {"replaced", {"publish", "cert", "--replace", "ca.pem"}, 0, "2 value(s) by 1"},
        {"user certificate without an entry", {"publish", "cert", "user.pem"}, 2, "--entry"},
        {"user certificate, new entry",
         {"publish", "cert", "--create", "--entry", user, "user.pem"},
         0,
         "add entry " + user,
         {"-f", "text", "user", user},
         "subject=CN=User"},
    });
    EXPECT_EQ(1, caCount());
}

INSTANTIATE_TEST_SUITE_P(Schemas, Publish,
                         ::testing::Values(LabSlapd::Schema::Stock, LabSlapd::Schema::OctetString),
                         [](const auto& info) {
                             return info.param == LabSlapd::Schema::Stock ? "Stock" : "OctetString";
                         });

}  // namespace
