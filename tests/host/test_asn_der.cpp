// Certificates and revocation lists decoded from strict DER.
#include <gtest/gtest.h>
#include <openssl/err.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "labpki.h"
#include "ryxasn.h"
#include "ryxexception.h"

namespace {

using labpki::Bytes;

const labpki::Authority& testCA() {
    static const labpki::Authority ca = labpki::Authority::root("cn=Test Root CA,o=Org,c=US");
    return ca;
}

// 2024-01-02 03:04:05 UTC and 2034-05-06 07:08:09 UTC.
const std::time_t kJan2 = 1704164645;
const std::time_t kMay6 = 2030512089;

const Bytes& aliceCertificate() {
    static const Bytes der = [] {
        labpki::CertOptions options;
        options.serial = 0x1234ABCDull;
        options.notBefore = kJan2;
        options.notAfter = kMay6;
        return testCA().issue("cn=Alice,o=Org,c=US", options);
    }();
    return der;
}

const Bytes& smallCRL() {
    static const Bytes der = [] {
        labpki::CrlOptions options;
        options.revokedCount = 1000;
        options.thisUpdate = kJan2;
        options.nextUpdate = kMay6;
        options.withReasons = true;
        return testCA().crl(options);
    }();
    return der;
}

std::string rfc2253(const RYXASNx500Name& name) {
    return RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253).c_str();
}

std::string text(const RYXString& s) {
    return std::string(s.data(), s.length());
}

// The code of the RYXASNException that f throws; the OpenSSL error queue must be
// empty afterwards.
template <typename F>
int asnError(F f) {
    int code = 0;
    try {
        f();
    } catch (const RYXASNException& e) {
        code = e.getError();
        EXPECT_NE(std::strlen(e.what()), 0u);
    }
    EXPECT_EQ(ERR_peek_error(), 0u) << "OpenSSL error queue not cleared";
    return code;
}

Bytes withTrailingByte(Bytes der) {
    der.push_back(0x00);
    return der;
}

Bytes truncatedByOne(Bytes der) {
    der.pop_back();
    return der;
}

// Bad encodings that neither type accepts.
std::vector<Bytes> garbageInputs() {
    return {
        Bytes{0x00},
        Bytes{0x30},
        Bytes{0x30, 0x03, 0x02, 0x01, 0x05},
        Bytes{0x04, 0x02, 'h', 'i'},
        Bytes(64, 0xff),
        Bytes{0x30, 0x84, 0xff, 0xff, 0xff, 0xff},
    };
}

TEST(ASNCertificate, DecodesAndExposesItsFields) {
    RYXASNx509Certificate cert(RYXASN_SECURITY_NONE);
    EXPECT_FALSE(cert.hasValue());
    const Bytes& der = aliceCertificate();
    RYXASNUtility::setDEREncoding(cert,
                                  RYXASNCBuffer(der.data(), static_cast<unsigned int>(der.size())));
    ASSERT_TRUE(cert.hasValue());
    EXPECT_EQ(text(cert.getClassName()), "RYXASNx509Certificate");
    EXPECT_EQ(rfc2253(cert.getSubject()), "CN=Alice,O=Org,C=US");
    EXPECT_EQ(rfc2253(cert.getIssuer()), "CN=Test Root CA,O=Org,C=US");
    EXPECT_EQ(text(cert.getSerialNumber()), "1234ABCD");
    EXPECT_EQ(text(cert.getNotBefore()), "Jan  2 03:04:05 2024 GMT");
    EXPECT_EQ(text(cert.getNotAfter()), "May  6 07:08:09 2034 GMT");
    RYXBuffer encoded = cert.getDEREncoding();
    EXPECT_EQ(Bytes(encoded.getValue(), encoded.getValue() + encoded.getLength()), der);
    EXPECT_NE(cert.native(), nullptr);
}

TEST(ASNCertificate, SerialNumbersInUpperCaseHex) {
    labpki::CertOptions options;
    for (std::uint64_t serial : {1ull, 0x80ull, 0xDEADBEEFCAFEull}) {
        options.serial = serial;
        Bytes der = testCA().issue("cn=Serial", options);
        RYXASNx509Certificate cert(RYXASN_SECURITY_NONE);
        cert.decodeDER(der.data(), der.size());
        char expected[32];
        std::snprintf(expected, sizeof expected, "%02llX", static_cast<unsigned long long>(serial));
        EXPECT_EQ(text(cert.getSerialNumber()), expected);
    }
}

TEST(ASNCertificate, AccessorsBeforeAValueThrow) {
    RYXASNx509Certificate cert(RYXASN_SECURITY_SENSITIVE);
    EXPECT_EQ(cert.getSecurityType(), RYXASN_SECURITY_SENSITIVE);
    EXPECT_EQ(asnError([&] { cert.getSubject(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { cert.getSerialNumber(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { cert.getDEREncoding(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { cert.getDERView(); }), RYX_ERR_ASN_STATE);
    RYXASNCertificateList crl(RYXASN_SECURITY_NONE);
    EXPECT_EQ(asnError([&] { crl.getIssuer(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { crl.getRevokedCount(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { crl.getCRLNumber(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { crl.isRevoked("1"); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { crl.getDERView(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(asnError([&] { crl.getDEREncoding(); }), RYX_ERR_ASN_STATE);
    EXPECT_EQ(crl.native(), nullptr);
}

// Every bad input leaves the previous value in place.
TEST(ASNCertificate, RejectsAnythingButOneCompleteEncoding) {
    RYXASNx509Certificate cert(RYXASN_SECURITY_NONE);
    const Bytes& good = aliceCertificate();
    cert.decodeDER(good.data(), good.size());

    std::vector<Bytes> bad = garbageInputs();
    bad.push_back(withTrailingByte(good));
    bad.push_back(truncatedByOne(good));
    bad.push_back(smallCRL());
    for (const Bytes& der : bad) {
        EXPECT_EQ(asnError([&] { cert.decodeDER(der.data(), der.size()); }), RYX_ERR_ASN_DECODE)
            << labpki::toHex(Bytes(der.begin(), der.begin() + std::min<size_t>(der.size(), 16)));
        EXPECT_EQ(rfc2253(cert.getSubject()), "CN=Alice,O=Org,C=US");
    }
    EXPECT_EQ(asnError([&] { cert.decodeDER(good.data(), 0); }), RYX_ERR_ASN_DECODE);
    EXPECT_EQ(asnError([&] { cert.decodeDER(nullptr, 0); }), RYX_ERR_ASN_DECODE);
    EXPECT_EQ(asnError([&] { RYXASNUtility::setDEREncoding(cert, RYXASNCBuffer()); }),
              RYX_ERR_ASN_DECODE);
    EXPECT_EQ(text(cert.getSerialNumber()), "1234ABCD");
}

TEST(ASNCertificate, MessagesSayWhatWasWrong) {
    RYXASNx509Certificate cert(RYXASN_SECURITY_NONE);
    Bytes trailing = withTrailingByte(aliceCertificate());
    try {
        cert.decodeDER(trailing.data(), trailing.size());
        FAIL() << "no exception";
    } catch (const RYXASNException& e) {
        EXPECT_NE(std::string(e.what()).find("1 bytes follow"), std::string::npos) << e.what();
    }
    Bytes truncated = truncatedByOne(aliceCertificate());
    try {
        cert.decodeDER(truncated.data(), truncated.size());
        FAIL() << "no exception";
    } catch (const RYXASNException& e) {
        // OpenSSL's own reason is part of the message.
        EXPECT_NE(std::string(e.what()).find("error:"), std::string::npos) << e.what();
    }
}

TEST(ASNCertificateList, RejectsAnythingButOneCompleteEncoding) {
    RYXASNCertificateList crl(RYXASN_SECURITY_NONE);
    const Bytes& good = smallCRL();
    crl.decodeDER(good.data(), good.size());
    std::vector<Bytes> bad = garbageInputs();
    bad.push_back(withTrailingByte(good));
    bad.push_back(truncatedByOne(good));
    bad.push_back(aliceCertificate());
    for (const Bytes& der : bad) {
        EXPECT_EQ(asnError([&] { crl.decodeDER(der.data(), der.size()); }), RYX_ERR_ASN_DECODE);
        EXPECT_EQ(crl.getRevokedCount(), 1000);
    }
    EXPECT_EQ(asnError([&] { crl.decodeDER(nullptr, 0); }), RYX_ERR_ASN_DECODE);
}

}  // namespace
