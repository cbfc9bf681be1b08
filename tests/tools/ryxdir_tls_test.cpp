// ryxdir's TLS options and the ";binary" folding, against a slapd with the stock
// schema (values come back as "cACertificate;binary") that also speaks TLS.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "ryxdirrun.h"

namespace {

const char kCaDN[] = "cn=TLS Root,dc=example,dc=com";

class RyxdirTls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        labpki::Authority ca = labpki::Authority::root("cn=Lab TLS CA,o=Lab");
        labpki::KeyPtr key = labpki::makeKey();
        labpki::CertOptions options;
        options.serial = 2;
        options.subjectAltNames = {"IP:127.0.0.1"};
        const labpki::Bytes cert = ca.issue("cn=127.0.0.1,o=Lab", options, key.get());
        s_slapd = new LabSlapd(LabSlapd::Schema::Stock);
        s_slapd->enableTls(labpki::certificatePEM(cert), labpki::privateKeyPEM(key.get()));
        s_slapd->start();
        const labpki::Bytes der = ca.certificateDER();
        s_slapd->addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"TLS Root"}},
                                  {"cACertificate;binary", {std::string(der.begin(), der.end())}}});
        s_rightCa = s_slapd->directory() + "/right-ca.pem";
        s_wrongCa = s_slapd->directory() + "/wrong-ca.pem";
        ryxdirrun::writeFile(s_rightCa, labpki::certificatePEM(der));
        ryxdirrun::writeFile(s_wrongCa, labpki::certificatePEM(
                                            labpki::Authority::root("cn=Other").certificateDER()));
    }
    static void TearDownTestSuite() { delete s_slapd; }

    static LabSlapd* s_slapd;
    static std::string s_rightCa;
    static std::string s_wrongCa;
};
LabSlapd* RyxdirTls::s_slapd = nullptr;
std::string RyxdirTls::s_rightCa;
std::string RyxdirTls::s_wrongCa;

TEST_F(RyxdirTls, OptionsReachTheLdapLibrary) {
    const std::string plain = s_slapd->host();
    const std::string port = std::to_string(s_slapd->port());
    const std::string ldaps = "ldaps://127.0.0.1:" + std::to_string(s_slapd->tlsPort());
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int status;
        const char* errorHas;  // in standard error; null: nothing asked
    };
    const Row rows[] = {
        {"StartTLS required, right CA",
         {"-H", plain, "-p", port, "-ZZ", "--cacert", s_rightCa},
         0,
         nullptr},
        {"StartTLS tried, right CA",
         {"-H", plain, "-p", port, "-Z", "--cacert", s_rightCa},
         0,
         nullptr},
        {"StartTLS required, wrong CA",
         {"-H", plain, "-p", port, "-ZZ", "--cacert", s_wrongCa},
         4,
         "TLS"},
        {"ldaps host, right CA", {"-H", ldaps, "--cacert", s_rightCa}, 0, nullptr},
        {"ldaps host, wrong CA", {"-H", ldaps, "--cacert", s_wrongCa}, 4, "TLS"},
        {"CA file missing",
         {"-H", plain, "-p", port, "-ZZ", "--cacert", "/nonexistent/ca.pem"},
         2,
         "cannot read CA certificate file"},
        {"plain name asked, ;binary folded", {"-H", plain, "-p", port}, 0, nullptr},
        {"folding turned off", {"-H", plain, "-p", port, "--no-fold-binary"}, 1, "nothing found"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> argv{RYXDIR_PATH};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        argv.insert(argv.end(), {"-f", "text", "ca", kCaDN});
        ryxdirrun::RunOptions options;
        options.env = {"RYX_LDAP_TIMEOUT=10"};
        const ryxdirrun::Result r = ryxdirrun::run(argv, s_slapd->directory(), options);
        EXPECT_EQ(r.status, row.status) << row.what << ": " << r.err;
        if (row.status == 0) {
            EXPECT_NE(r.out.find("subject=CN=Lab TLS CA,O=Lab"), std::string::npos) << row.what;
        }
        if (row.errorHas != nullptr) {
            EXPECT_NE(r.err.find(row.errorHas), std::string::npos) << row.what << ": " << r.err;
        }
    }
}

}  // namespace
