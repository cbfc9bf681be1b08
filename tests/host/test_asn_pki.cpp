// The lab PKI generator: every default time follows one reference time. (Its
// chains, lists, cross certificates and distribution points are what the
// verification tests of ryxdir rely on.)
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include "labpki.h"

namespace {

TEST(TestPKI, EveryTimeFollowsTheReferenceTime) {
    const std::time_t saved = labpki::referenceTime();
    const std::time_t fixed = 2000000000;  // 2033-05-18T03:33:20Z
    labpki::setReferenceTime(fixed);
    labpki::Authority ca = labpki::Authority::root("cn=Then");
    labpki::CertPtr leaf = labpki::certificateFromDER(ca.issue("cn=leaf", 5));
    labpki::CrlPtr crl = labpki::crlFromDER(ca.crl());
    labpki::setReferenceTime(saved);
    int days = 0, seconds = 0;
    const auto offset = [&](const ASN1_TIME* t) {
        ASN1_TIME_diff(&days, &seconds, nullptr, t);  // from now to t
        return (static_cast<long>(days) * 86400 + seconds) - (fixed - std::time(nullptr));
    };
    EXPECT_NEAR(offset(X509_get0_notBefore(leaf.get())), -3600, 5);
    EXPECT_NEAR(offset(X509_get0_notAfter(leaf.get())), 365L * 24 * 3600, 5);
    EXPECT_NEAR(offset(X509_CRL_get0_lastUpdate(crl.get())), 0, 5);
    EXPECT_NEAR(offset(X509_CRL_get0_nextUpdate(crl.get())), 7L * 24 * 3600, 5);
    EXPECT_EQ(labpki::referenceTime(), saved);
}

}  // namespace
