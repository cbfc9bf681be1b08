// ryxdir publish run as an operator runs it, on both kinds of directory: the
// stock schema (values under "NAME;binary") and the octet-string one (plain
// names). Each row changes the directory for the rows after it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "ryxdirlab.h"

namespace {

using labpki::Authority;
using ryxdirlab::kSuffix;
using spawntest::Result;
using ::testing::HasSubstr;

const std::string kCaDN = "cn=Pub CA" + kSuffix;

labpki::CrlOptions numbered(std::uint64_t number, long nextUpdate = 7 * 86400) {
    labpki::CrlOptions o;
    o.revokedCount = 2;  // the entries are passed over when a list is ordered
    o.crlNumber = number;
    o.thisUpdate = labpki::fromNow(nextUpdate < 0 ? nextUpdate - 86400 : 0);
    o.nextUpdate = labpki::fromNow(nextUpdate);
    return o;
}

class Publish : public ::testing::TestWithParam<LabSlapd::Schema> {
  protected:
    void SetUp() override {
        m_lab.start("publish");
        m_lab.addCA("Pub CA", {m_ca.certificateDER()}, {m_ca.crl(numbered(5))});
        m_lab.write("n4.crl", labpki::crlPEM(m_ca.crl(numbered(4))));
        m_lab.write("n5.crl", ryxdirlab::text(m_ca.crl(numbered(5))));
        m_lab.write("n6.crl", labpki::crlPEM(m_ca.crl(numbered(6))));
        m_lab.write("n8-expired.crl", labpki::crlPEM(m_ca.crl(numbered(8, -3600))));
        m_lab.write("arl.crl", labpki::crlPEM(m_ca.arl(numbered(3))));
        // Same name, other key (and serial: the stock schema takes issuer and serial
        // for a certificate's identity).
        const Authority impostor = Authority::root(kCaDN, Authority::caDefaults(2));
        m_lab.write("impostor.crl", labpki::crlPEM(impostor.crl(numbered(9))));
        m_lab.writePEM("ca.pem", m_ca.certificateDER());
        m_lab.writePEM("rekeyed.pem", impostor.certificateDER());
        m_lab.writePEM("user.pem", m_ca.issue("cn=User" + kSuffix, 77));
        m_lab.write("garbage.crl", "-----BEGIN X509 CRL-----\nAAAA\n-----END X509 CRL-----\n");
    }

    // Bound as the directory's manager unless told not to.
    Result run(const std::vector<std::string>& args, bool bind = true) {
        std::vector<std::string> all;
        if (bind) {
            all = {"-D", m_lab.slapd->rootDN(), "-w", m_lab.slapd->rootPassword()};
        }
        all.insert(all.end(), args.begin(), args.end());
        return m_lab.run(all);
    }
    // Runs the command of a row; then its check command (after "=>"), whose
    // output shows `shows`.
    void runRow(const std::string& what, int status, const std::string& said,
                const std::string& shows, const std::vector<std::string>& args) {
        const auto arrow = std::find(args.begin(), args.end(), "=>");
        const Result r = run({args.begin(), arrow});
        EXPECT_EQ(status, r.status) << what << "\n" << r.out << r.err;
        EXPECT_THAT(r.out + r.err, HasSubstr(said)) << what;
        if (arrow != args.end()) {
            const Result c = run({arrow + 1, args.end()});
            EXPECT_THAT(c.out, HasSubstr(shows)) << what << "\n" << c.out << c.err;
        }
    }

    const Authority m_ca = Authority::root(kCaDN);
    ryxdirlab::Lab m_lab{GetParam()};
};

TEST_P(Publish, ListsAndCertificates) {
    const std::string dpUrl =
        m_lab.slapd->url() + "/cn=New%20DP" + kSuffix + "?certificateRevocationList";
    const auto rows =
        spawntest::readCases(ryxdirlab::casesFile("publish.tsv"), {{"DIR", m_lab.dir},
                                                                   {"CA", kCaDN},
                                                                   {"DP", "cn=New DP" + kSuffix},
                                                                   {"DPURL", dpUrl},
                                                                   {"USER", "cn=User" + kSuffix}});
    for (const auto& row : rows) {
        runRow(row[0], std::stoi(row[1]), row[2], row[3], {row.begin() + 4, row.end()});
    }
    const Result anonymous = run({"publish", "crl", m_lab.dir + "/n6.crl"}, false);
    EXPECT_EQ(2, anonymous.status);
    EXPECT_THAT(anonymous.err, HasSubstr("bind with -D"));
}

INSTANTIATE_TEST_SUITE_P(Schemas, Publish,
                         ::testing::Values(LabSlapd::Schema::Stock, LabSlapd::Schema::OctetString),
                         [](const auto& info) {
                             return info.param == LabSlapd::Schema::Stock ? "Stock" : "OctetString";
                         });

}  // namespace
