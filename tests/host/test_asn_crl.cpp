// Revocation lists decoded lazily: the encodings accepted (as OpenSSL accepts
// them), the accessors against OpenSSL's own object, look-ups by serial number
// over lists of every shape, and the bytes handed out as they were read.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "crlbuild.h"
#include "crlcompare.h"
#include "labpki.h"
#include "ryxasn.h"
#include "ryxexception.h"
#include "ryxopensslptr.h"

namespace {

using labpki::Bytes;
using namespace crlbuild;

bool opensslAccepts(const Bytes& der) {
    const unsigned char* p = der.data();
    ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    ERR_clear_error();
    return crl && p == der.data() + der.size();
}

bool oursAccepts(const Bytes& der) {
    RYXASNCertificateList list(RYXASN_SECURITY_NONE);
    try {
        list.decodeDER(der.data(), der.size());
        return true;
    } catch (const RYXASNException& e) {
        EXPECT_EQ(e.getError(), RYX_ERR_ASN_DECODE);
        return false;
    }
}

std::unique_ptr<RYXASNCertificateList> decoded(const Bytes& der) {
    std::unique_ptr<RYXASNCertificateList> list(new RYXASNCertificateList(RYXASN_SECURITY_NONE));
    list->decodeDER(der.data(), der.size());
    return list;
}

// A list built from the default parts after one change.
#define CHANGED(...) with([](Parts& p) { __VA_ARGS__; }).build()

// BER that OpenSSL tolerates and DER forbids is accepted; what OpenSSL refuses is
// refused. Both decoders must give the answer of the table.
TEST(ASNCertificateList, AcceptsWhatOpenSSLAccepts) {
    Bytes tbsPrimitive = Parts().build();
    tbsPrimitive[4] = 0x10;  // after the outer header of two octets and "30 82"
    const struct {
        const char* label;
        Bytes der;
        bool accepted;
    } cases[] = {
        {"as DER", Parts().build(), true},
        {"outer SEQUENCE in indefinite form", CHANGED(p.outerForm = Length::Indefinite), true},
        {"TBS length in long form", CHANGED(p.tbsForm = Length::Long), true},
        {"entry in indefinite form",
         CHANGED(p.revoked =
                     tlv(0x30, tlv(0x30, cat({tlv(0x02, {0x05}), tlv(0x17, text("240102Z"))}),
                                   Length::Indefinite))),
         true},
        {"revoked list with the constructed bit clear", CHANGED(p.revoked[0] = 0x10), true},
        {"negative serial number and version 5",
         CHANGED(p.revoked = tlv(0x30, entry({0xfb})); p.version = tlv(0x02, {0x05})), true},
        {"signature as a constructed BIT STRING in pieces",
         CHANGED(p.signature =
                     tlv(0x23, cat({tlv(0x03, {0x00}), tlv(0x03, {0x01})}), Length::Indefinite)),
         true},
        {"thisUpdate with a high tag number and no time in it",
         CHANGED(p.thisUpdate = tlv(Bytes{0x1f, 0x17}, text("x"))), true},
        {"critical FALSE written out, a byte after the extension's INTEGER",
         CHANGED(p.extensions = tlv(0xa0, tlv(0x30, extension(kCrlNumber, {0x02, 0x01, 0x2a, 0xff},
                                                              tlv(0x01, {0x00}))))),
         true},
        {"TBS with the constructed bit clear", tbsPrimitive, false},
        {"serial number with a needless leading zero",
         CHANGED(p.revoked = tlv(0x30, entry({0x00, 0x05}))), false},
        {"issuer in UTF8String with an overlong character",
         CHANGED(p.issuer = nameOf(0x0c, {0xc0, 0x80})), false},
        {"issuer in BMPString with a lone surrogate",
         CHANGED(p.issuer = nameOf(0x1e, {0xd8, 0x00})), false},
        {"end-of-contents octets inside a definite list",
         CHANGED(p.revoked = tlv(0x30, cat({entry({0x05}), {0x00, 0x00}}))), false},
        {"empty extension value in long form at the end of its extension",
         CHANGED(p.extensions = tlv(
                     0xa0, tlv(0x30, tlv(0x30, cat({tlv(0x06, kCrlNumber), {0x04, 0x81, 0x00}}))))),
         false},
        {"primitive string of indefinite length", CHANGED(p.signature = {0x03, 0x80, 0x00, 0x00}),
         false},
        {"extension name that ends inside a sub-identifier",
         CHANGED(p.extensions = tlv(0xa0, tlv(0x30, extension({0x55, 0x1d, 0x94}, {0x05, 0x00})))),
         false},
        {"a byte after the list", cat({Parts().build(), {0x00}}), false},
        {"a certificate", labpki::Authority::root("cn=Root").certificateDER(), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(opensslAccepts(c.der), c.accepted) << c.label << " (OpenSSL)";
        EXPECT_EQ(oursAccepts(c.der), c.accepted) << c.label;
    }
}

// The lists of the lab's generator and a few it does not make: every accessor
// against what OpenSSL's object says.
TEST(ASNCertificateList, AccessorsAgreeWithOpenSSL) {
    labpki::Authority ca = labpki::Authority::root("cn=List CA+uid=l1,o=Org,c=US");
    labpki::CrlOptions sampled;
    sampled.revokedCount = 300;
    sampled.withReasons = true;
    labpki::CrlOptions unsorted;
    unsorted.revokedCount = 100;
    unsorted.serials = {5, 1ull << 63, 0x80, 0};
    labpki::CrlOptions arl;
    arl.hasNextUpdate = false;
    const std::vector<std::pair<const char*, Bytes>> lists = {
        {"sampled, with reasons", ca.crl(sampled)},
        {"out of order", ca.crl(unsorted)},
        {"authority list without nextUpdate", ca.arl(arl)},
        {"built", Parts().build()},
        {"version 1, GeneralizedTime",
         CHANGED(p.version.clear(); p.nextUpdate.clear(); p.extensions.clear();
                 p.thisUpdate = tlv(0x18, text("20510203040506Z")))},
        {"empty issuer with a long-form length", CHANGED(p.issuer = {0x30, 0x81, 0x00})},
        {"CRL number twice", CHANGED(const Bytes n = extension(kCrlNumber, tlv(0x02, {0x01}));
                                     p.extensions = tlv(0xa0, tlv(0x30, cat({n, n}))))},
        {"CRL number that is no INTEGER",
         CHANGED(p.extensions = tlv(0xa0, tlv(0x30, extension(kCrlNumber, {0x05}))))},
    };
    for (const auto& l : lists) {
        std::unique_ptr<RYXASNCertificateList> list = decoded(l.second);
        labpki::CrlPtr crl = labpki::crlFromDER(l.second);
        EXPECT_EQ(crlcompare::firstDifference(*list, crl.get(), l.second.data(), l.second.size()),
                  "")
            << l.first;
    }
}

// Look-ups over each kind of list: in order (the sampled index), out of order
// (the index sorted on first use), and with entries that only OpenSSL judges
// (another issuer's, removed from the list).
TEST(ASNCertificateList, LooksUpSerialNumbers) {
    labpki::Authority ca = labpki::Authority::root("cn=Lookup CA");
    labpki::CrlOptions ordered;
    ordered.revokedCount = 10000;
    ordered.firstSerial = 0x1000000;
    labpki::CrlOptions unordered;
    unordered.revokedCount = 70;
    unordered.firstSerial = 1ull << 62;
    unordered.serials = {5, 1ull << 63, 0x80, 0};
    const struct {
        Bytes der;
        const char* revoked;  // serial numbers, separated by spaces
        const char* kept;
    } lists[] = {
        {ca.crl(ordered), "1000000 100003f 1000040 100270F", "FFFFFF 1002710 -1000000"},
        {ca.crl(unordered), "0 80 8000000000000000 4000000000000045 05", "6 -5 4000000000000046"},
        {CHANGED(p.revoked = tlv(0x30, cat({entry({0xf9}), entry({0x07})}))), "-7 7", "-8 0"},
        {CHANGED(
             p.revoked = tlv(
                 0x30,
                 cat({entry({0x0a}, extension(kReasonCode, tlv(0x0a, {0x08}))),
                      entry({0x0b},
                            extension(kCertificateIssuer,
                                      tlv(0x30, tlv(0xa4, nameOf(0x0c, text("Other CA")))))),
                      entry({0x0c}), entry({0x0d}, extension(kReasonCode, tlv(0x0a, {0x01})))}))),
         "", "0A 0B 0C 0D"},
        {CHANGED(p.revoked = tlv(0x30, entry({0x0d}, extension(kReasonCode, tlv(0x0a, {0x01}))))),
         "0D", "0E"},
    };
    for (const auto& l : lists) {
        std::unique_ptr<RYXASNCertificateList> list = decoded(l.der);
        for (bool revoked : {true, false}) {
            std::istringstream serials(revoked ? l.revoked : l.kept);
            for (std::string serial; serials >> serial;) {
                EXPECT_EQ(list->isRevoked(serial.c_str()), revoked) << serial;
            }
        }
        EXPECT_EQ(crlcompare::compareLookups(*list, labpki::crlFromDER(l.der).get()), "");
    }
    std::unique_ptr<RYXASNCertificateList> list = decoded(Parts().build());
    for (const char* bad : {"", "xyz", "12 ", "0x12"}) {
        EXPECT_THROW(list->isRevoked(bad), RYXException) << bad;
    }
    EXPECT_THROW(list->isRevoked(nullptr), RYXException);
}

// What was read is handed out again byte for byte, BER included, without a copy
// for the view; a bad encoding leaves the old value in place.
TEST(ASNCertificateList, KeepsTheBytesItDecoded) {
    const Bytes ber = CHANGED(p.outerForm = Length::Indefinite);
    std::unique_ptr<RYXASNCertificateList> list = decoded(ber);
    RYXBuffer copy = list->getDEREncoding();
    EXPECT_EQ(Bytes(copy.getValue(), copy.getValue() + copy.getLength()), ber);
    RYXASNCBuffer view = list->getDERView();
    EXPECT_EQ(Bytes(view.getData(), view.getData() + view.getLength()), ber);
    EXPECT_EQ(view.getData(), list->getDERView().getData());
    const Bytes bad = cat({ber, {0x00}});
    EXPECT_THROW(list->decodeDER(bad.data(), bad.size()), RYXASNException);
    EXPECT_EQ(list->getDERView().getData(), view.getData());
    EXPECT_EQ(list->native(), list->native());  // built once

    const Bytes certificate = labpki::Authority::root("cn=Kept").certificateDER();
    RYXASNx509Certificate cert(RYXASN_SECURITY_SENSITIVE);
    cert.decodeDER(certificate.data(), certificate.size());
    RYXASNCBuffer certView = cert.getDERView();
    EXPECT_EQ(Bytes(certView.getData(), certView.getData() + certView.getLength()), certificate);
}

}  // namespace
