// The lab PKI generator: every default time follows one reference time, and
// the text forms. (Its chains, lists, cross certificates and distribution
// points are what the verification tests of ryxdir rely on.)
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <stdexcept>

#include "labpki.h"

namespace {

using labpki::Bytes;

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

TEST(TestPKI, TextForms) {
    labpki::Authority ca = labpki::Authority::root("cn=Text CA");
    const Bytes der = ca.certificateDER(), crl = ca.crl();
    const std::string pem = labpki::certificatePEM(der), crlPem = labpki::crlPEM(crl);
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_EQ(crlPem.rfind("-----BEGIN X509 CRL-----\n", 0), 0u);
    EXPECT_EQ(labpki::fromPEM(pem), der);
    EXPECT_EQ(labpki::fromPEM(crlPem), crl);
    EXPECT_EQ(labpki::toHex({0x0a, 0xbc}, true), "0ABC");
    EXPECT_EQ(labpki::fromHex("0aBC"), (Bytes{0x0a, 0xbc}));
    EXPECT_EQ(labpki::asnHexText({0x30, 0x00}, "{Asn}"), "{Asn}3000");
    EXPECT_THROW(labpki::fromHex("abc"), std::runtime_error);
    EXPECT_THROW(labpki::parseName("nosuchtype=x"), std::runtime_error);
    EXPECT_THROW(labpki::certificateFromDER(Bytes{0x30, 0x00}), std::runtime_error);
}

}  // namespace
