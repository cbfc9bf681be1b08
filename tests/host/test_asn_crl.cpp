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

struct EncodingCase {
    const char* label;
    Bytes der;
    bool accepted;
};

// BER that OpenSSL tolerates and DER forbids is accepted; what OpenSSL refuses is
// refused. Both decoders must give the answer of the table.
TEST(ASNCertificateList, AcceptsWhatOpenSSLAccepts) {
    const std::vector<EncodingCase> cases = {
        {"as DER", Parts().build(), true},
        {"outer SEQUENCE in indefinite form",
         with([](Parts& p) { p.outerForm = Length::Indefinite; }).build(), true},
        {"TBS length in long form", with([](Parts& p) { p.tbsForm = Length::Long; }).build(), true},
        {"entry in indefinite form",
         with([](Parts& p) {
             p.revoked = tlv(0x30, tlv(0x30, cat({tlv(0x02, {0x05}), tlv(0x17, text("240102Z"))}),
                                       Length::Indefinite));
         }).build(),
         true},
        {"revoked list with the constructed bit clear",
         with([](Parts& p) { p.revoked[0] = 0x10; }).build(), true},
        {"negative serial number and version 5", with([](Parts& p) {
                                                     p.revoked = tlv(0x30, entry({0xfb}));
                                                     p.version = tlv(0x02, {0x05});
                                                 }).build(),
         true},
        {"signature as a constructed BIT STRING in pieces",
         with([](Parts& p) {
             p.signature =
                 tlv(0x23, cat({tlv(0x03, {0x00}), tlv(0x03, {0x01})}), Length::Indefinite);
         }).build(),
         true},
        {"thisUpdate with a high tag number and no time in it",
         with([](Parts& p) {
             p.thisUpdate = tlv(Bytes{0x1f, 0x17}, text("x"));
         }).build(),
         true},
        {"critical FALSE written out, a byte after the extension's INTEGER",
         with([](Parts& p) {
             p.extensions =
                 tlv(0xa0,
                     tlv(0x30, extension(kCrlNumber, {0x02, 0x01, 0x2a, 0xff}, tlv(0x01, {0x00}))));
         }).build(),
         true},
        {"TBS with the constructed bit clear",
         [] {
             Bytes der = Parts().build();
             der[4] = 0x10;  // after the outer header of two octets and "30 82"
             return der;
         }(),
         false},
        {"serial number with a needless leading zero",
         with([](Parts& p) {
             p.revoked = tlv(0x30, entry({0x00, 0x05}));
         }).build(),
         false},
        {"issuer in UTF8String with an overlong character",
         with([](Parts& p) {
             p.issuer = nameOf(0x0c, {0xc0, 0x80});
         }).build(),
         false},
        {"issuer in BMPString with a lone surrogate", with([](Parts& p) {
                                                          p.issuer = nameOf(0x1e, {0xd8, 0x00});
                                                      }).build(),
         false},
        {"end-of-contents octets inside a definite list",
         with([](Parts& p) {
             p.revoked = tlv(0x30, cat({entry({0x05}), {0x00, 0x00}}));
         }).build(),
         false},
        {"empty extension value in long form at the end of its extension",
         with([](Parts& p) {
             p.extensions =
                 tlv(0xa0, tlv(0x30, tlv(0x30, cat({tlv(0x06, kCrlNumber), {0x04, 0x81, 0x00}}))));
         }).build(),
         false},
        {"primitive string of indefinite length", with([](Parts& p) {
                                                      p.signature = {0x03, 0x80, 0x00, 0x00};
                                                  }).build(),
         false},
        {"a byte after the list", cat({Parts().build(), {0x00}}), false},
        {"a certificate", labpki::Authority::root("cn=Root").certificateDER(), false},
    };
    for (const EncodingCase& c : cases) {
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
        {"version 1, GeneralizedTime", with([](Parts& p) {
                                           p.version.clear();
                                           p.nextUpdate.clear();
                                           p.extensions.clear();
                                           p.thisUpdate = tlv(0x18, text("20510203040506Z"));
                                       }).build()},
        {"empty issuer with a long-form length", with([](Parts& p) {
                                                     p.issuer = {0x30, 0x81, 0x00};
                                                 }).build()},
        {"CRL number twice", with([](Parts& p) {
                                 const Bytes number = extension(kCrlNumber, tlv(0x02, {0x01}));
                                 p.extensions = tlv(0xa0, tlv(0x30, cat({number, number})));
                             }).build()},
        {"CRL number that is no INTEGER", with([](Parts& p) {
                                              p.extensions = tlv(
                                                  0xa0, tlv(0x30, extension(kCrlNumber, {0x05})));
                                          }).build()},
    };
    for (const auto& l : lists) {
        std::unique_ptr<RYXASNCertificateList> list = decoded(l.second);
        labpki::CrlPtr crl = labpki::crlFromDER(l.second);
        EXPECT_EQ(crlcompare::firstDifference(*list, crl.get(), l.second.data(), l.second.size()),
                  "")
            << l.first;
    }
}

struct LookupCase {
    const char* serial;
    bool revoked;
};

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
    const std::vector<std::pair<Bytes, std::vector<LookupCase>>> lists = {
        {ca.crl(ordered),
         {{"1000000", true},
          {"100003f", true},
          {"1000040", true},
          {"100270F", true},
          {"FFFFFF", false},
          {"1002710", false},
          {"-1000000", false}}},
        {ca.crl(unordered),
         {{"0", true},
          {"80", true},
          {"8000000000000000", true},
          {"4000000000000045", true},
          {"05", true},
          {"6", false},
          {"-5", false},
          {"4000000000000046", false}}},
        {with([](Parts& p) {
             p.revoked = tlv(0x30, cat({entry({0xf9}), entry({0x07})}));
         }).build(),
         {{"-7", true}, {"7", true}, {"-8", false}, {"0", false}}},
        {with([](Parts& p) {
             p.revoked = tlv(
                 0x30,
                 cat({entry({0x0a}, extension(kReasonCode, tlv(0x0a, {0x08}))),
                      entry({0x0b},
                            extension(kCertificateIssuer,
                                      tlv(0x30, tlv(0xa4, nameOf(0x0c, text("Other CA")))))),
                      entry({0x0c}), entry({0x0d}, extension(kReasonCode, tlv(0x0a, {0x01})))}));
         }).build(),
         {{"0A", false}, {"0B", false}, {"0C", false}, {"0D", false}}},
        {with([](Parts& p) {
             p.revoked = tlv(0x30, entry({0x0d}, extension(kReasonCode, tlv(0x0a, {0x01}))));
         }).build(),
         {{"0D", true}, {"0E", false}}},
    };
    for (const auto& l : lists) {
        std::unique_ptr<RYXASNCertificateList> list = decoded(l.first);
        labpki::CrlPtr crl = labpki::crlFromDER(l.first);
        for (const LookupCase& c : l.second) {
            EXPECT_EQ(list->isRevoked(c.serial), c.revoked) << c.serial;
        }
        EXPECT_EQ(crlcompare::compareLookups(*list, crl.get()), "");
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
    const Bytes ber = with([](Parts& p) { p.outerForm = Length::Indefinite; }).build();
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
