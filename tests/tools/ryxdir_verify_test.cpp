// ryxdir verify on generated PKIs in a real slapd (octet-string schema): one
// table of scenarios, each with the exit status and the verdict expected.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "ryxdirrun.h"

namespace {

using labpki::Authority;
using labpki::Bytes;
using ryxdirrun::Result;
using ::testing::HasSubstr;
using ::testing::StartsWith;

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

        const auto root = [](const char* cn) { return Authority::root(cn + kSuffix); };
        const Authority r1 = root("cn=Root One"), r4 = root("cn=Root Four");
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
        addCA("Root One", {r1.certificateDER()}, {r1.crl()}, {r1.arl(revoking(12))});
        addCA("Inter One", {i1.certificateDER()}, {i1.crl(revoking(102))});
        addCA("Inter Two", {i2.certificateDER()}, {i2.crl()});
        addCA("Inter Three", {i3.certificateDER()});  // its list is at a distribution point
        s_slapd->addEntry("cn=CRL Three" + kSuffix,
                          {{"objectClass", {"cRLDistributionPoint"}},
                           {"cn", {"CRL Three"}},
                           {"certificateRevocationList", {text(i3.crl(revoking(301)))}}});
        addCA("Inter Five", {i5other.certificateDER(), i5.certificateDER()}, {i5.crl()});
        addCA("Inter Six", {orphan.certify(i6, Authority::caDefaults(18)), i6.certificateDER()},
              {i6.crl()});
        addCA("Root Four", {r4.certificateDER()});
        addCA("Loop One", {loop2.certify(loop1, Authority::caDefaults(21))});
        addCA("Loop Two", {loop1.certify(loop2, Authority::caDefaults(22))});

        writePEM("root1.pem", r1.certificateDER());
        writePEM("root4.pem", r4.certificateDER());
        writePEM("other.pem", root("cn=Root One").certificateDER());  // same name, other key
        writePEM("alice.pem", i1.issue("cn=Alice" + kSuffix, 101));
        writePEM("bob.pem", i1.issue("cn=Bob" + kSuffix, 102));
        writePEM("carol.pem", i2.issue("cn=Carol" + kSuffix, 201));
        labpki::CertOptions dave;
        dave.serial = 301;
        dave.crlDistributionPoints = {
            "http://crl.example.com/three.crl",
            s_slapd->url() + "/cn=CRL%20Three" + kSuffix + "?certificateRevocationList"};
        writePEM("dave.pem", i3.issue("cn=Dave" + kSuffix, dave));
        labpki::CertOptions expired;
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
        for (const auto& list : {std::make_pair("cACertificate", &certs),
                                 std::make_pair("certificateRevocationList", &crls),
                                 std::make_pair("authorityRevocationList", &arls)}) {
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

    // verify FILE trusting TRUST (both in the test's folder), with options.
    Result verify(const std::string& file, const std::string& trust = "root1.pem",
                  const std::vector<std::string>& options = {}) {
        std::vector<std::string> argv{
            RYXDIR_PATH, "-H",      s_slapd->host(),    "-p", std::to_string(s_slapd->port()),
            "verify",    "--trust", s_dir + "/" + trust};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(s_dir + "/" + file);
        return ryxdirrun::run(argv, s_dir);
    }

    static LabSlapd* s_slapd;
    static std::string s_dir;
};

LabSlapd* RyxdirVerifyTest::s_slapd = nullptr;
std::string RyxdirVerifyTest::s_dir;

TEST_F(RyxdirVerifyTest, Verdicts) {
    ryxdirrun::writeFile(s_dir + "/garbage.pem", "-----BEGIN CERTIFICATE-----\nAAAA\n");
    ryxdirrun::writeFile(s_dir + "/empty.pem", "");
    const char* const r1 = "root1.pem";
    const struct {
        const char* file;
        const char* trust;
        const char* option;  // one, or none
        int status;
        std::string verdict;  // the verdict line's text; for bad input (2), none
        std::string also;     // another line of the output; for bad input, of the error
    } rows[] = {
        // A valid chain of three.
        {"alice.pem", r1, "", 0, "valid", "certificate 1: subject=CN=Inter One,DC=example,DC=com"},
        // The leaf revoked by its issuer's CRL, the intermediate by the root's ARL.
        {"bob.pem", r1, "", 6, "invalid: certificate revoked (certificate 0)",
         "from entry CN=Inter One"},
        {"carol.pem", r1, "", 6, "invalid: certificate revoked (certificate 1)",
         "from entry CN=Root One"},
        // The leaf revoked only in the list at its distribution point.
        {"dave.pem", r1, "", 6, "invalid: certificate revoked (certificate 0)",
         "not fetched: http://crl.example.com/three.crl"},
        {"erin.pem", r1, "", 6, "invalid: certificate has expired (certificate 0)", ""},
        // A root of the same name with another key is no trust anchor.
        {"alice.pem", "other.pem", "", 7,
         "no path to a trust anchor: self-signed certificate in certificate chain (certificate 2)",
         "is self-signed but not a trust anchor"},
        {"hank.pem", "root4.pem", "", 8,
         "revocation status unavailable: unable to get certificate CRL (certificate 0)", ""},
        {"hank.pem", "root4.pem", "--crl-optional", 0, "valid",
         "warning: no revocation list for certificate 0 (CN=Hank,DC=example,DC=com)"},
        // Two candidate issuer certificates, of which the first does not verify.
        {"frank.pem", r1, "", 0, "valid",
         "does not verify the signature of \"CN=Frank,DC=example,DC=com\", passed over"},
        // A cross-certificate to nowhere tried first.
        {"ivan.pem", r1, "", 0, "valid",
         "no CA certificate for \"CN=Orphan CA,DC=example,DC=com\" in the directory"},
        {"gina.pem", r1, "", 7,
         "no path to a trust anchor: unable to get local issuer certificate (certificate 2)",
         "issuer loop: \"CN=Loop One,DC=example,DC=com\" is already on the path"},
        // After the lists' next update.
        {"alice.pem", r1, "--at=2099-01-01T00:00:00Z", 8,
         "revocation status unavailable: CRL has expired (certificate 0)", ""},
        {"garbage.pem", r1, "", 2, "", "holds no certificate (PEM or DER)"},
        {"missing.pem", r1, "", 2, "", "cannot read certificate file"},
        {"alice.pem", "empty.pem", "", 2, "", "holds no PEM certificate"},
        {"alice.pem", "missing.pem", "", 2, "", "cannot read trust file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file + (" " + row.verdict + row.also));
        std::vector<std::string> options;
        if (*row.option) {
            options.push_back(row.option);
        }
        Result r = verify(row.file, row.trust, options);
        EXPECT_EQ(r.status, row.status) << r.out << r.err;
        if (row.status == 2) {
            EXPECT_THAT(r.err, HasSubstr(row.also));
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
            continue;
        }
        EXPECT_THAT(r.out, HasSubstr("\nverdict: " + row.verdict + "\n"));
        EXPECT_THAT(r.out, HasSubstr(row.also));
        EXPECT_THAT(r.out, HasSubstr(" from file " + s_dir + "/" + row.file + "\n"));
        if (row.status != 0) {
            EXPECT_THAT(r.err,
                        StartsWith("ryxdir: " + s_dir + "/" + row.file + ": " + row.verdict));
        }
        options.insert(options.begin(), {"-f", "json"});
        Result json = verify(row.file, row.trust, options);
        EXPECT_EQ(json.status, row.status);
        EXPECT_TRUE(ryxdirrun::parsesAsJson(json.out, s_dir)) << json.out;
    }
}

// Where the chain and the lists came from: the directory entry, the trust file,
// the URL of a distribution point.
TEST_F(RyxdirVerifyTest, ChainAndListsShowWhereTheyCameFrom) {
    const std::string out = verify("dave.pem").out;
    for (const std::string& line : std::vector<std::string>{
             "certificate 0: subject=CN=Dave,DC=example,DC=com issuer=CN=Inter Three,"
             "DC=example,DC=com serial=012D ",
             " from entry CN=Inter Three,DC=example,DC=com\ncertificate 2: ",
             " from trust " + s_dir + "/root1.pem\ncrl 0: issuer=CN=Inter Three,",
             " number=1 revoked=1 from url " + s_slapd->url() + "/cn=CRL%20Three"}) {
        EXPECT_THAT(out, HasSubstr(line));
    }
    EXPECT_THAT(verify("alice.pem", "root1.pem", {"-f", "json"}).out,
                HasSubstr("\"source\": {\n        \"entry\": \"CN=Inter One,"));
}

}  // namespace
