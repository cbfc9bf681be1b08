// Dates after January 2038 through the plug-in: a certificate and a CRL whose
// times do not fit a 32-bit time_t are stored in slapd, fetched through the
// library manager and read back with the right dates. OpenSSL's own time_t
// interface agrees, so the program and OpenSSL share one time_t.
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

static_assert(sizeof(std::time_t) == 8, "time_t must hold dates after 2038");

const char* const kCaDN = "cn=Late CA,dc=example,dc=com";

// Seconds since 1970 and the text OpenSSL prints for them. 2040 is written as
// UTCTime, 2050 and later as GeneralizedTime.
struct Date {
    std::time_t seconds;
    const char* text;
};
const Date kNotBefore = {2208988800, "Jan  1 00:00:00 2040 GMT"};
const Date kNotAfter = {2855822400, "Jun 30 12:00:00 2060 GMT"};
const Date kThisUpdate = {2371982400, "Mar  1 12:00:00 2045 GMT"};
const Date kNextUpdate = {2374660800, "Apr  1 12:00:00 2045 GMT"};

// -1, 0 or 1 as OpenSSL compares the ASN.1 time with seconds (through time_t*).
int compared(const ASN1_TIME* time, std::time_t seconds) {
    return X509_cmp_time(time, &seconds);
}

TEST(ManagerLateDates, CertificateAndCrlAfter2038RoundTrip) {
    LabSlapd slapd(LabSlapd::Schema::OctetString);
    slapd.start();
    labpki::CertOptions validity = labpki::Authority::caDefaults();
    validity.notBefore = kNotBefore.seconds;
    validity.notAfter = kNotAfter.seconds;
    const labpki::Authority ca = labpki::Authority::root(kCaDN, validity);
    labpki::CrlOptions update;
    update.thisUpdate = kThisUpdate.seconds;
    update.nextUpdate = kNextUpdate.seconds;
    slapd.addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"Late CA"}},
                           {"cACertificate", {bytes(ca.certificateDER())}},
                           {"certificateRevocationList", {bytes(ca.crl(update))}}});

    Plugin plugin;
    Connection c;
    c.port = slapd.port();
    c.userDN = slapd.rootDN();
    c.password = slapd.rootPassword();
    std::unique_ptr<RYXDIRManager> manager = makeManager(c);
    ASSERT_TRUE(manager);
    std::unique_ptr<RYXASNCertificateContainer> certs(
        manager->getCACertificates(RYXASNx500Name(kCaDN)));
    std::unique_ptr<RYXASNCRLContainer> crls(manager->getCRLs(RYXASNx500Name(kCaDN)));
    ASSERT_EQ(certs->size(), 1u);
    ASSERT_EQ(crls->size(), 1u);
    const RYXASNx509Certificate* cert = certs->getCertificate(0);
    const RYXASNCertificateList* crl = crls->getCRL(0);

    struct Check {
        const char* what;
        std::string text;
        const ASN1_TIME* time;
        Date expected;
    };
    const Check checks[] = {
        {"notBefore", cert->getNotBefore().c_str(), X509_get0_notBefore(cert->native()),
         kNotBefore},
        {"notAfter", cert->getNotAfter().c_str(), X509_get0_notAfter(cert->native()), kNotAfter},
        {"thisUpdate", crl->getThisUpdate().c_str(), X509_CRL_get0_lastUpdate(crl->native()),
         kThisUpdate},
        {"nextUpdate", crl->getNextUpdate().c_str(), X509_CRL_get0_nextUpdate(crl->native()),
         kNextUpdate},
    };
    for (const Check& check : checks) {
        SCOPED_TRACE(check.what);
        EXPECT_EQ(check.text, check.expected.text);
        EXPECT_EQ(compared(check.time, check.expected.seconds - 1), 1);
        EXPECT_EQ(compared(check.time, check.expected.seconds + 1), -1);
    }
}

}  // namespace
