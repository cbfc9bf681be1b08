// Certificates decoded from strict DER, the state and decoding errors of
// certificates and revocation lists, and containers of ASN.1 objects.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expectthrows.h"
#include "labpki.h"
#include "ryxasn.h"
#include "ryxexception.h"

namespace {

using labpki::Bytes;

const labpki::Authority& testCA() {
    static const labpki::Authority ca = labpki::Authority::root("cn=Test Root CA,o=Org,c=US");
    return ca;
}

Bytes certificate(std::uint64_t serial) {
    labpki::CertOptions options;
    options.serial = serial;
    options.notBefore = 1704164645;  // 2024-01-02 03:04:05 UTC
    options.notAfter = 2030512089;   // 2034-05-06 07:08:09 UTC
    return testCA().issue("cn=Alice,o=Org,c=US", options);
}

std::string text(const RYXString& s) {
    return std::string(s.data(), s.length());
}

// f throws a RYXASNException with this code and leaves OpenSSL's error queue empty.
::testing::AssertionResult asnError(const std::function<void()>& f, int code) {
    ::testing::AssertionResult result = tracetest::throwsError<RYXASNException>(f, code);
    if (result && ERR_peek_error() != 0) {
        return ::testing::AssertionFailure() << "OpenSSL error queue not cleared";
    }
    return result;
}

::testing::AssertionResult invalid(const std::function<void()>& f) {
    return tracetest::throwsError<RYXException>(f, RYX_ERR_INVALID_ARGUMENT);
}

TEST(ASNCertificate, DecodesAndExposesItsFields) {
    const Bytes der = certificate(0x1234ABCD);
    RYXASNx509Certificate cert(RYXASN_SECURITY_NONE);
    EXPECT_FALSE(cert.hasValue());
    RYXASNUtility::setDEREncoding(cert,
                                  RYXASNCBuffer(der.data(), static_cast<unsigned int>(der.size())));
    ASSERT_TRUE(cert.hasValue());
    const auto rfc2253 = [](const RYXASNx500Name& name) {
        return text(RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253));
    };
    EXPECT_EQ(rfc2253(cert.getSubject()), "CN=Alice,O=Org,C=US");
    EXPECT_EQ(rfc2253(cert.getIssuer()), "CN=Test Root CA,O=Org,C=US");
    EXPECT_EQ(text(cert.getNotBefore()), "Jan  2 03:04:05 2024 GMT");
    EXPECT_EQ(text(cert.getNotAfter()), "May  6 07:08:09 2034 GMT");
    RYXBuffer encoded = cert.getDEREncoding();
    EXPECT_EQ(Bytes(encoded.getValue(), encoded.getValue() + encoded.getLength()), der);
    const RYXASNCBuffer view = cert.getDERView();
    EXPECT_EQ(Bytes(view.getData(), view.getData() + view.getLength()), der);
    // Serial numbers in upper-case hex, at least two digits.
    for (std::uint64_t serial : {1ull, 0x80ull, 0x1234ABCDull, 0xDEADBEEFCAFEull}) {
        const Bytes serialDer = certificate(serial);
        cert.decodeDER(serialDer.data(), serialDer.size());
        char expected[32];
        std::snprintf(expected, sizeof expected, "%02llX", static_cast<unsigned long long>(serial));
        EXPECT_EQ(text(cert.getSerialNumber()), expected);
    }
}

TEST(ASNDecoding, AccessorsBeforeAValueThrow) {
    RYXASNx509Certificate cert(RYXASN_SECURITY_SENSITIVE);
    RYXASNCertificateList crl(RYXASN_SECURITY_NONE);
    EXPECT_EQ(crl.native(), nullptr);
    const std::vector<std::function<void()>> accessors = {
        [&] { cert.getSubject(); },     [&] { cert.getSerialNumber(); },
        [&] { cert.getDEREncoding(); }, [&] { cert.getDERView(); },
        [&] { crl.getIssuer(); },       [&] { crl.getRevokedCount(); },
        [&] { crl.getCRLNumber(); },    [&] { crl.isRevoked("1"); },
        [&] { crl.getDERView(); },      [&] { crl.getDEREncoding(); },
    };
    for (size_t i = 0; i < accessors.size(); ++i) {
        EXPECT_TRUE(asnError(accessors[i], RYX_ERR_ASN_STATE)) << i;
    }
}

// Every bad input is refused and leaves the previous value in place; the
// message says what was wrong, with OpenSSL's own reason where it has one.
TEST(ASNDecoding, RejectsAnythingButOneCompleteEncoding) {
    const Bytes cert = certificate(0x1234ABCD), crl = testCA().crl();

    const auto refuses = [&](RYXASNObject& object, const Bytes& good, const Bytes& other) {
        object.decodeDER(good.data(), good.size());
        std::vector<Bytes> bad = {Bytes(64, 0xff), other, Bytes(good.begin(), good.end() - 1)};
        for (const char* hex : {"00", "30", "3003020105", "04026869", "3084ffffffff", ""}) {
            bad.push_back(labpki::fromHex(hex));
        }
        bad.push_back(good);
        bad.back().push_back(0x00);
        for (size_t i = 0; i < bad.size(); ++i) {
            const Bytes& der = bad[i];
            EXPECT_TRUE(
                asnError([&] { object.decodeDER(der.data(), der.size()); }, RYX_ERR_ASN_DECODE))
                << i;
        }
        EXPECT_TRUE(asnError([&] { object.decodeDER(nullptr, 0); }, RYX_ERR_ASN_DECODE));
        RYXBuffer kept = object.getDEREncoding();
        EXPECT_EQ(Bytes(kept.getValue(), kept.getValue() + kept.getLength()), good);
    };
    RYXASNx509Certificate x509(RYXASN_SECURITY_NONE);
    refuses(x509, cert, crl);
    RYXASNCertificateList list(RYXASN_SECURITY_NONE);
    refuses(list, crl, cert);

    Bytes trailing = cert;
    trailing.push_back(0x00);
    const Bytes truncated(cert.begin(), cert.end() - 1);
    for (const auto& c :
         {std::make_pair(trailing, "1 bytes follow"), std::make_pair(truncated, "error:")}) {
        EXPECT_THAT([&] { x509.decodeDER(c.first.data(), c.first.size()); },
                    ::testing::ThrowsMessage<RYXASNException>(::testing::HasSubstr(c.second)));
    }
}

// An object that counts the live instances.
class Probe : public RYXASNObject {
  public:
    static int s_live;
    Probe() { ++s_live; }
    ~Probe() override { --s_live; }
    RYXString getClassName() const override { return RYXString("Probe"); }
    void decodeDER(const unsigned char*, size_t) override {}
    RYXBuffer getDEREncoding() const override { return RYXBuffer(); }
    bool hasValue() const override { return true; }
};
int Probe::s_live = 0;

TEST(ASNContainer, AnOwnerDestroysItsObjectsAReferrerLeavesThemAlone) {
    Probe a, b;
    {
        RYXASNObjectContainer owner(RYX_OWNER), referrer(RYX_NOT_OWNER);
        for (int i = 0; i < 3; ++i) {
            owner.push_back(new Probe);
        }
        owner.clear();
        EXPECT_TRUE(owner.empty());
        EXPECT_EQ(Probe::s_live, 2);
        owner.push_back(new Probe);
        referrer.push_back(&a);
        referrer.push_back(&b);
        EXPECT_EQ(referrer.at(1), &b);
        EXPECT_TRUE(invalid([&] { referrer.at(2); }));
        EXPECT_TRUE(invalid([&] { referrer.push_back(nullptr); }));
        EXPECT_EQ(referrer.size(), 2u);
    }
    EXPECT_EQ(Probe::s_live, 2);
}

TEST(ASNContainer, TypedAccessRefusesObjectsOfTheOtherType) {
    auto* cert = new RYXASNx509Certificate(RYXASN_SECURITY_NONE);
    auto* crl = new RYXASNCertificateList(RYXASN_SECURITY_NONE);
    // Through the base class, as the host hands containers out.
    std::unique_ptr<RYXASNObjectContainer> owner(new RYXASNCertificateContainer(RYX_OWNER));
    owner->push_back(cert);
    owner->push_back(crl);
    RYXASNCRLContainer crls(RYX_NOT_OWNER);
    crls.push_back(crl);
    crls.push_back(cert);
    auto& certs = static_cast<RYXASNCertificateContainer&>(*owner);
    EXPECT_EQ(certs.getCertificate(0), cert);
    EXPECT_EQ(crls.getCRL(0), crl);
    EXPECT_TRUE(invalid([&] { certs.getCertificate(1); }));
    EXPECT_TRUE(invalid([&] { certs.getCertificate(2); }));
    EXPECT_TRUE(invalid([&] { crls.getCRL(1); }));
}

}  // namespace
