// ryxdir verify on generated PKIs in a real slapd (octet-string schema): one
// table of scenarios, each with the exit status and the verdict expected.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "ryxdirrun.h"

namespace {

using labpki::Authority;
using labpki::Bytes;
using labpki::CertOptions;
using labpki::CrlOptions;
using ryxdirrun::Result;

const std::string kSuffix = ",dc=example,dc=com";

std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

class RyxdirVerifyTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString);
        s_slapd->start();
        s_dir = s_slapd->directory() + "/verify";
        ASSERT_EQ(::mkdir(s_dir.c_str(), 0700), 0);

        const Authority r1 = Authority::root("cn=Root One" + kSuffix);
        const Authority i1 = r1.intermediate("cn=Inter One" + kSuffix, Authority::caDefaults(11));
        const Authority i2 = r1.intermediate("cn=Inter Two" + kSuffix, Authority::caDefaults(12));
        const Authority i3 = r1.intermediate("cn=Inter Three" + kSuffix, Authority::caDefaults(13));
        const Authority i5 = r1.intermediate("cn=Inter Five" + kSuffix, Authority::caDefaults(15));
        const Authority i5other =
            r1.intermediate("cn=Inter Five" + kSuffix, Authority::caDefaults(16));
        const Authority i6 = r1.intermediate("cn=Inter Six" + kSuffix, Authority::caDefaults(17));
        const Authority orphan = Authority::root("cn=Orphan CA" + kSuffix);
        const Authority r4 = Authority::root("cn=Root Four" + kSuffix);
        const Authority loop1 = Authority::root("cn=Loop One" + kSuffix);
        const Authority loop2 = Authority::root("cn=Loop Two" + kSuffix);
        const Authority other = Authority::root("cn=Root One" + kSuffix);  // same name, other key

        CrlOptions arl;
        arl.serials = {12};  // Inter Two
        CrlOptions revokesBob;
        revokesBob.serials = {102};
        CrlOptions revokesDave;
        revokesDave.serials = {301};
        addCA("Root One", {r1.certificateDER()}, {r1.crl()}, {r1.arl(arl)});
        addCA("Inter One", {i1.certificateDER()}, {i1.crl(revokesBob)});
        addCA("Inter Two", {i2.certificateDER()}, {i2.crl()});
        addCA("Inter Three", {i3.certificateDER()});  // its list is at a distribution point
        s_slapd->addEntry("cn=CRL Three" + kSuffix,
                          {{"objectClass", {"cRLDistributionPoint"}},
                           {"cn", {"CRL Three"}},
                           {"certificateRevocationList", {text(i3.crl(revokesDave))}}});
        addCA("Inter Five", {i5other.certificateDER(), i5.certificateDER()}, {i5.crl()});
        addCA("Inter Six", {orphan.certify(i6, Authority::caDefaults(18)), i6.certificateDER()},
              {i6.crl()});
        addCA("Root Four", {r4.certificateDER()});
        addCA("Loop One", {loop2.certify(loop1, Authority::caDefaults(21))});
        addCA("Loop Two", {loop1.certify(loop2, Authority::caDefaults(22))});

        writePEM("root1.pem", r1.certificateDER());
        writePEM("root4.pem", r4.certificateDER());
        writePEM("other.pem", other.certificateDER());
        writePEM("alice.pem", i1.issue("cn=Alice" + kSuffix, 101));
        writePEM("bob.pem", i1.issue("cn=Bob" + kSuffix, 102));
        writePEM("carol.pem", i2.issue("cn=Carol" + kSuffix, 201));
        CertOptions dave;
        dave.serial = 301;
        dave.crlDistributionPoints = {
            "http://crl.example.com/three.crl",
            s_slapd->url() + "/cn=CRL%20Three" + kSuffix + "?certificateRevocationList"};
        writePEM("dave.pem", i3.issue("cn=Dave" + kSuffix, dave));
        CertOptions expired;
        expired.serial = 103;
        expired.notBefore = labpki::fromNow(-2 * 86400);
        expired.notAfter = labpki::fromNow(-86400);
        writePEM("erin.pem", i1.issue("cn=Erin" + kSuffix, expired));
        writePEM("frank.pem", i5.issue("cn=Frank" + kSuffix, 501));
        writePEM("gina.pem", loop1.issue("cn=Gina" + kSuffix, 1));
        writePEM("hank.pem", r4.issue("cn=Hank" + kSuffix, 2));
        writePEM("ivan.pem", i6.issue("cn=Ivan" + kSuffix, 601));
    }
    static void TearDownTestSuite() {
        delete s_slapd;
        s_slapd = nullptr;
    }

    static void addCA(const std::string& cn, const std::vector<Bytes>& certs,
                      const std::vector<Bytes>& crls = {}, const std::vector<Bytes>& arls = {}) {
        std::vector<LabSlapd::Attribute> attributes{
            {"objectClass", {"applicationProcess", "pkiCA"}}, {"cn", {cn}}};
        const std::pair<const char*, const std::vector<Bytes>*> lists[] = {
            {"cACertificate", &certs},
            {"certificateRevocationList", &crls},
            {"authorityRevocationList", &arls}};
        for (const auto& list : lists) {
            if (!list.second->empty()) {
                attributes.push_back({list.first, {}});
                for (const Bytes& b : *list.second) {
                    attributes.back().values.push_back(text(b));
                }
            }
        }
        s_slapd->addEntry("cn=" + cn + kSuffix, attributes);
    }
    static void writePEM(const std::string& name, const Bytes& der) {
        ryxdirrun::writeFile(s_dir + "/" + name, labpki::certificatePEM(der));
    }

    Result verify(const std::string& file, const std::string& trust,
                  const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv{
            RYXDIR_PATH, "-H",      s_slapd->host(),    "-p", std::to_string(s_slapd->port()),
            "verify",    "--trust", s_dir + "/" + trust};
        argv.insert(argv.end(), extra.begin(), extra.end());
        argv.push_back(s_dir + "/" + file);
        return ryxdirrun::run(argv, s_dir);
    }

    static LabSlapd* s_slapd;
    static std::string s_dir;
};

LabSlapd* RyxdirVerifyTest::s_slapd = nullptr;
std::string RyxdirVerifyTest::s_dir;

TEST_F(RyxdirVerifyTest, Verdicts) {
    const struct {
        const char* scenario;
        const char* file;
        const char* trust;
        std::vector<std::string> extra;
        int status;
        std::string verdict;  // the verdict line's text
        std::string also;     // another line of the output
    } rows[] = {
        {"valid chain of three",
         "alice.pem",
         "root1.pem",
         {},
         0,
         "valid",
         "certificate 1: subject=CN=Inter One,DC=example,DC=com"},
        {"leaf revoked by the issuer's CRL",
         "bob.pem",
         "root1.pem",
         {},
         6,
         "invalid: certificate revoked (certificate 0)",
         "from entry CN=Inter One"},
        {"intermediate revoked by the root's ARL",
         "carol.pem",
         "root1.pem",
         {},
         6,
         "invalid: certificate revoked (certificate 1)",
         "from entry CN=Root One"},
        {"leaf revoked only at its distribution point",
         "dave.pem",
         "root1.pem",
         {},
         6,
         "invalid: certificate revoked (certificate 0)",
         "not fetched: http://crl.example.com/three.crl"},
        {"expired leaf",
         "erin.pem",
         "root1.pem",
         {},
         6,
         "invalid: certificate has expired (certificate 0)",
         ""},
        {"untrusted root of the same name",
         "alice.pem",
         "other.pem",
         {},
         7,
         "no path to a trust anchor: self-signed certificate in certificate chain (certificate 2)",
         "is self-signed but not a trust anchor"},
        {"no CRL",
         "hank.pem",
         "root4.pem",
         {},
         8,
         "revocation status unavailable: unable to get certificate CRL (certificate 0)",
         ""},
        {"no CRL, optional",
         "hank.pem",
         "root4.pem",
         {"--crl-optional"},
         0,
         "valid",
         "warning: no revocation list for certificate 0 (CN=Hank,DC=example,DC=com)"},
        {"two candidate issuers, one does not verify",
         "frank.pem",
         "root1.pem",
         {},
         0,
         "valid",
         "does not verify the signature of \"CN=Frank,DC=example,DC=com\", passed over"},
        {"cross-certificate to nowhere tried first",
         "ivan.pem",
         "root1.pem",
         {},
         0,
         "valid",
         "no CA certificate for \"CN=Orphan CA,DC=example,DC=com\" in the directory"},
        {"issuer loop",
         "gina.pem",
         "root1.pem",
         {},
         7,
         "no path to a trust anchor: unable to get local issuer certificate (certificate 2)",
         "issuer loop: \"CN=Loop One,DC=example,DC=com\" is already on the path"},
        {"after the lists' next update",
         "alice.pem",
         "root1.pem",
         {"--at", "2099-01-01T00:00:00Z"},
         8,
         "revocation status unavailable: CRL has expired (certificate 0)",
         ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.scenario);
        Result r = verify(row.file, row.trust, row.extra);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        EXPECT_NE(r.out.find("\nverdict: " + row.verdict + "\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(row.also), std::string::npos) << r.out;
        if (row.status != 0) {
            EXPECT_EQ(r.err.find("ryxdir: " + s_dir + "/" + row.file + ": " + row.verdict), 0u)
                << r.err;
        }
    }
}

TEST_F(RyxdirVerifyTest, ChainAndListsShowWhereTheyCameFrom) {
    Result text = verify("dave.pem", "root1.pem");
    for (const std::string& line : std::vector<std::string>{
             "certificate 0: subject=CN=Dave,DC=example,DC=com issuer=CN=Inter Three,DC=example,"
             "DC=com serial=012D ",
             " from file " + s_dir + "/dave.pem\n",
             " from entry CN=Inter Three,DC=example,DC=com\ncertificate 2: ",
             " from trust " + s_dir + "/root1.pem\ncrl 0: issuer=CN=Inter Three,",
             " number=1 revoked=1 from url " + s_slapd->url() + "/cn=CRL%20Three"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    }

    for (const char* file : {"alice.pem", "bob.pem"}) {
        Result json = verify(file, "root1.pem", {"-f", "json"});
        EXPECT_TRUE(ryxdirrun::parsesAsJson(json.out, s_dir)) << json.out;
        EXPECT_NE(
            json.out.find("\"source\": {\n        \"entry\": \"CN=Inter One,DC=example,DC=com\""),
            std::string::npos)
            << json.out;
        EXPECT_NE(json.out.find("\"status\": " + std::to_string(json.status) + "\n}"),
                  std::string::npos)
            << json.out;
    }
}

TEST_F(RyxdirVerifyTest, BadInputIsAUsageError) {
    ryxdirrun::writeFile(s_dir + "/garbage.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n");
    ryxdirrun::writeFile(s_dir + "/empty.pem", "");
    const struct {
        const char* file;
        const char* trust;
        std::string error;
    } rows[] = {
        {"garbage.pem", "root1.pem", "holds no certificate (PEM or DER)"},
        {"missing.pem", "root1.pem", "cannot read certificate file"},
        {"alice.pem", "empty.pem", "holds no PEM certificate"},
        {"alice.pem", "missing.pem", "cannot read trust file"},
    };
    for (const auto& row : rows) {
        Result r = verify(row.file, row.trust);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    }
}

}  // namespace
