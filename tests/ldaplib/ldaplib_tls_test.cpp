// TLS of the toolkit LDAP library against slapd with a generated server
// certificate: ldaps:// and StartTLS with the right CA, and the clear failures
// (wrong CA, wrong host name, StartTLS required of a server without TLS).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "labpki.h"
#include "labslapd.h"
#include "ldaptestutil.h"

namespace {

class Tls : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const labpki::Authority ca = labpki::Authority::root("cn=Lab TLS CA,o=Lab");
        const labpki::KeyPtr key = labpki::makeKey();
        labpki::CertOptions options;
        options.serial = 2;
        options.subjectAltNames = {"IP:127.0.0.1"};
        const labpki::Bytes cert = ca.issue("cn=127.0.0.1,o=Lab", options, key.get());
        s_tls = new LabSlapd();
        s_tls->enableTls(labpki::certificatePEM(cert), labpki::privateKeyPEM(key.get()));
        s_tls->start();
        s_plain = new LabSlapd();
        s_plain->start();
        s_rightCa = s_tls->directory() + "/client-ca.pem";
        s_wrongCa = s_tls->directory() + "/other-ca.pem";
        std::ofstream(s_rightCa) << labpki::certificatePEM(ca.certificateDER());
        std::ofstream(s_wrongCa) << labpki::certificatePEM(
            labpki::Authority::root("cn=Other CA,o=Lab").certificateDER());
    }
    static void TearDownTestSuite() {
        delete s_tls;
        delete s_plain;
    }
    void TearDown() override { ::unsetenv("RYX_LDAP_STARTTLS"); }

    // OpenLDAP's own way to change the CA file of later connections.
    static void trust(const std::string& caFile) {
        ASSERT_EQ(ryx_ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, caFile.c_str()), 0);
        int client = 0;
        ASSERT_EQ(ryx_ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client), 0);
    }

    static LabSlapd* s_tls;
    static LabSlapd* s_plain;
    static std::string s_rightCa;
    static std::string s_wrongCa;
};

LabSlapd* Tls::s_tls = nullptr;
LabSlapd* Tls::s_plain = nullptr;
std::string Tls::s_rightCa;
std::string Tls::s_wrongCa;

const char* const kUntrusted =
    "(TLS: the server's certificate (issuer CN=Lab TLS CA,O=Lab) could not be verified with the "
    "trusted CAs)";

TEST_F(Tls, Table) {
    struct Row {
        const char* name;
        std::string host;
        const char* startTls;
        bool rightCa;
        int rc;
        const char* reason;  // in ryx_ldap_err2string(rc)
    };
    const std::string ldaps = s_tls->tlsUrl();
    const std::string ldapsByName = "ldaps://localhost:" + std::to_string(s_tls->tlsPort());
    const Row rows[] = {
        {"ldaps, right CA", ldaps, "off", true, LDAP_SUCCESS, ""},
        {"StartTLS required, right CA", s_tls->hostPort(), "require", true, LDAP_SUCCESS, ""},
        {"StartTLS tried, plain server", s_plain->hostPort(), "try", true, LDAP_SUCCESS, ""},
        {"ldaps, wrong CA", ldaps, "off", false, 91, kUntrusted},
        {"StartTLS required, wrong CA", s_tls->hostPort(), "require", false, 91, kUntrusted},
        {"StartTLS tried, wrong CA", s_tls->hostPort(), "try", false, 91, kUntrusted},
        {"ldaps, wrong host name", ldapsByName, "off", true, 91,
         "(TLS: the server's certificate does not name localhost)"},
        {"StartTLS required, plain server", s_plain->hostPort(), "require", true, 91,
         "(TLS required: the server refused StartTLS"},
    };
    for (const Row& r : rows) {
        trust(r.rightCa ? s_rightCa : s_wrongCa);
        ::setenv("RYX_LDAP_STARTTLS", r.startTls, 1);
        const LabSlapd& server = r.host == s_plain->hostPort() ? *s_plain : *s_tls;
        RyxLdap ld(ryx_ldap_init(r.host.c_str(), 0));
        ASSERT_NE(ld, nullptr) << r.name;
        const int rc = ryx_ldap_simple_bind_s(ld.get(), server.rootDN().c_str(),
                                              server.rootPassword().c_str());
        EXPECT_EQ(rc, r.rc) << r.name;
        if (rc != LDAP_SUCCESS) {
            EXPECT_NE(std::string(ryx_ldap_err2string(rc)).find(r.reason), std::string::npos)
                << r.name << ": " << ryx_ldap_err2string(rc);
            std::cout << "  " << r.name << ": " << ryx_ldap_err2string(rc) << "\n";
            continue;
        }
        LDAPMessage* raw = nullptr;
        EXPECT_EQ(ryx_ldap_search_st(ld.get(), server.suffix().c_str(), LDAP_SCOPE_BASE,
                                     "(objectClass=*)", nullptr, 0, nullptr, &raw),
                  LDAP_SUCCESS)
            << r.name;
        ryx_ldap_msgfree(raw);
    }
}

}  // namespace
