// The lab PKI generator, checked with OpenSSL alone.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

#include "labpki.h"

namespace {

using labpki::Bytes;

struct StoreFree {
    void operator()(X509_STORE* p) const { X509_STORE_free(p); }
    void operator()(X509_STORE_CTX* p) const { X509_STORE_CTX_free(p); }
    void operator()(STACK_OF(X509) * p) const { sk_X509_free(p); }
    void operator()(ISSUING_DIST_POINT* p) const { ISSUING_DIST_POINT_free(p); }
    void operator()(STACK_OF(DIST_POINT) * p) const { CRL_DIST_POINTS_free(p); }
};

TEST(TestPKI, ChainVerifiesWithOpenSSL) {
    labpki::Authority root = labpki::Authority::root("cn=Root,o=PKI,c=US");
    labpki::Authority sub = root.intermediate("cn=Sub,o=PKI,c=US");
    Bytes leafDer = sub.issue("cn=Leaf+uid=leaf1,ou=People,o=PKI,c=US", 0x4242);
    labpki::CertPtr leaf = labpki::certificateFromDER(leafDer);

    EXPECT_EQ(root.subject(), "CN=Root,O=PKI,C=US");
    EXPECT_EQ(labpki::nameText(X509_get_subject_name(leaf.get())),
              "UID=leaf1+CN=Leaf,OU=People,O=PKI,C=US");
    EXPECT_EQ(labpki::nameText(X509_get_issuer_name(leaf.get())), "CN=Sub,O=PKI,C=US");
    EXPECT_EQ(ASN1_INTEGER_get(X509_get0_serialNumber(leaf.get())), 0x4242);
    EXPECT_TRUE(X509_check_ca(const_cast<X509*>(sub.certificate())));
    EXPECT_FALSE(X509_check_ca(leaf.get()));

    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    X509_STORE_add_cert(store.get(), const_cast<X509*>(root.certificate()));
    std::unique_ptr<STACK_OF(X509), StoreFree> chain(sk_X509_new_null());
    sk_X509_push(chain.get(), const_cast<X509*>(sub.certificate()));
    std::unique_ptr<X509_STORE_CTX, StoreFree> ctx(X509_STORE_CTX_new());
    ASSERT_EQ(X509_STORE_CTX_init(ctx.get(), store.get(), leaf.get(), chain.get()), 1);
    EXPECT_EQ(X509_verify_cert(ctx.get()), 1)
        << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
}

TEST(TestPKI, RevocationListsAreSignedAndOrdered) {
    labpki::Authority ca = labpki::Authority::root("cn=CRL CA");
    labpki::CrlOptions options;
    options.revokedCount = 500;
    options.firstSerial = 1000;
    options.crlNumber = 9;
    labpki::CrlPtr crl = labpki::crlFromDER(ca.crl(options));
    EXPECT_EQ(X509_CRL_verify(crl.get(), X509_get0_pubkey(ca.certificate())), 1);
    STACK_OF(X509_REVOKED)* revoked = X509_CRL_get_REVOKED(crl.get());
    ASSERT_EQ(sk_X509_REVOKED_num(revoked), 500);
    for (int i = 0; i < 500; ++i) {
        const ASN1_INTEGER* serial =
            X509_REVOKED_get0_serialNumber(sk_X509_REVOKED_value(revoked, i));
        EXPECT_EQ(ASN1_INTEGER_get(serial), 1000 + i);
    }
    EXPECT_EQ(X509_CRL_get_ext_by_NID(crl.get(), NID_issuing_distribution_point, -1), -1);

    labpki::CrlPtr arl = labpki::crlFromDER(ca.arl());
    EXPECT_EQ(X509_CRL_verify(arl.get(), X509_get0_pubkey(ca.certificate())), 1);
    std::unique_ptr<ISSUING_DIST_POINT, StoreFree> idp(static_cast<ISSUING_DIST_POINT*>(
        X509_CRL_get_ext_d2i(arl.get(), NID_issuing_distribution_point, nullptr, nullptr)));
    ASSERT_TRUE(idp);
    EXPECT_TRUE(idp->onlyCA);
    EXPECT_FALSE(idp->onlyuser);
}

TEST(TestPKI, CrossCertificatesDistributionPointsAndListedSerials) {
    labpki::Authority a = labpki::Authority::root("cn=A");
    labpki::Authority b = labpki::Authority::root("cn=B");
    labpki::CertOptions options = labpki::Authority::caDefaults(7);
    // A ',' inside a URI (the DN of an LDAP URL) does not split it.
    options.crlDistributionPoints = {"ldap:///cn=A,dc=x?certificateRevocationList",
                                     "http://x/a.crl"};
    labpki::CertPtr cross = labpki::certificateFromDER(a.certify(b, options));
    EXPECT_EQ(labpki::nameText(X509_get_subject_name(cross.get())), "CN=B");
    EXPECT_EQ(labpki::nameText(X509_get_issuer_name(cross.get())), "CN=A");
    EXPECT_EQ(X509_verify(cross.get(), a.key()), 1);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(cross.get()), b.key()), 1);
    std::unique_ptr<STACK_OF(DIST_POINT), StoreFree> points(static_cast<STACK_OF(DIST_POINT)*>(
        X509_get_ext_d2i(cross.get(), NID_crl_distribution_points, nullptr, nullptr)));
    ASSERT_TRUE(points);
    ASSERT_EQ(sk_DIST_POINT_num(points.get()), 2);
    for (int i = 0; i < 2; ++i) {
        const GENERAL_NAMES* names = sk_DIST_POINT_value(points.get(), i)->distpoint->name.fullname;
        ASSERT_EQ(sk_GENERAL_NAME_num(names), 1);
        const GENERAL_NAME* uri = sk_GENERAL_NAME_value(names, 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(
                      ASN1_STRING_get0_data(uri->d.uniformResourceIdentifier))),
                  options.crlDistributionPoints[i]);
    }

    labpki::CrlOptions list;
    list.revokedCount = 2;
    list.firstSerial = 10;
    list.serials = {99};
    labpki::CrlPtr crl = labpki::crlFromDER(a.crl(list));
    X509_REVOKED* entry = nullptr;
    labpki::CertPtr revoked = labpki::certificateFromDER(a.issue("cn=r", 99));
    labpki::CertPtr kept = labpki::certificateFromDER(a.issue("cn=k", 12));
    EXPECT_EQ(sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl.get())), 3);
    EXPECT_EQ(X509_CRL_get0_by_cert(crl.get(), &entry, revoked.get()), 1);
    EXPECT_EQ(X509_CRL_get0_by_cert(crl.get(), &entry, kept.get()), 0);
}

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
    Bytes der = ca.certificateDER();
    std::string pem = labpki::certificatePEM(der);
    EXPECT_EQ(pem.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_EQ(labpki::fromPEM(pem), der);
    Bytes crl = ca.crl();
    std::string crlPem = labpki::crlPEM(crl);
    EXPECT_EQ(crlPem.rfind("-----BEGIN X509 CRL-----\n", 0), 0u);
    EXPECT_EQ(labpki::fromPEM(crlPem), crl);

    EXPECT_EQ(labpki::toHex({0x0a, 0xbc}), "0abc");
    EXPECT_EQ(labpki::toHex({0x0a, 0xbc}, true), "0ABC");
    EXPECT_EQ(labpki::fromHex("0aBC"), (Bytes{0x0a, 0xbc}));
    EXPECT_EQ(labpki::asnHexText({0x30, 0x00}), "{ASN}3000");
    EXPECT_EQ(labpki::asnHexText({0x30, 0x00}, "{Asn}"), "{Asn}3000");
    EXPECT_THROW(labpki::fromHex("abc"), std::runtime_error);
    EXPECT_THROW(labpki::fromHex("zz"), std::runtime_error);
    EXPECT_THROW(labpki::parseName("nosuchtype=x"), std::runtime_error);
    EXPECT_THROW(labpki::certificateFromDER(Bytes{0x30, 0x00}), std::runtime_error);
}

}  // namespace
