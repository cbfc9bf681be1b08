// Revocation lists decoded lazily: which encodings the scanner takes and which
// it leaves to OpenSSL, the accessors against OpenSSL's own object, look-ups by
// serial number over lists of every shape, and the bytes handed out as they
// were read.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crlbuild.h"
#include "crlcompare.h"

namespace {

using labpki::Bytes;
using namespace crlbuild;

bool opensslAccepts(const Bytes& der) {
    const unsigned char* p = der.data();
    ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
    ERR_clear_error();
    return crl && p == der.data() + der.size();
}

std::unique_ptr<RYXASNCertificateList> decoded(const Bytes& der) {
    auto list = std::make_unique<RYXASNCertificateList>(RYXASN_SECURITY_NONE);
    list->decodeDER(der.data(), der.size());
    return list;
}

// A list built from the default parts after one change.
#define CHANGED(...) with([](Parts& p) { __VA_ARGS__; }).build()

bool scanned(const Bytes& der) {
    ryxasn_internal::CrlLayout layout;
    return ryxasn_internal::scanCertificateList(der.data(), der.size(), layout) == der.size();
}

const Bytes kCommonName = {0x55, 0x04, 0x03};

// A name of one attribute, its type and value given whole.
Bytes issuerOf(const Bytes& type, const Bytes& value) {
    return tlv(0x30, tlv(0x31, tlv(0x30, cat({type, value}))));
}

// Entries with the serial numbers 1 to count, 20 octets each.
Bytes entries(unsigned char count) {
    Bytes all;
    for (unsigned char serial = 1; serial <= count; ++serial) {
        all = cat({all, entry({serial})});
    }
    return all;
}

// Who reads a list: the scanner (strict DER), OpenSSL behind it, or nobody.
enum class Reader { Scanner, OpenSSL, Nobody };

// The scanner takes strict DER; each BER form OpenSSL tolerates goes to
// d2i_X509_CRL, and the list then answers as OpenSSL's object does; what
// OpenSSL refuses is refused.
TEST(ASNCertificateList, ScansDERAndLeavesTheRestToOpenSSL) {
    Bytes tbsPrimitive = Parts().build();
    tbsPrimitive[4] = 0x10;  // after the outer header of two octets and "30 82"
    const struct {
        const char* label;
        Bytes der;
        Reader reader;
    } cases[] = {
        {"as DER", Parts().build(), Reader::Scanner},
        {"negative serial number and version 5",
         CHANGED(p.revoked = tlv(0x30, entry({0xfb})); p.version = tlv(0x02, {0x05})),
         Reader::Scanner},
        {"outer SEQUENCE in indefinite form", CHANGED(p.outerForm = Length::Indefinite),
         Reader::OpenSSL},
        {"entry in indefinite form",
         CHANGED(p.revoked =
                     tlv(0x30, tlv(0x30, cat({tlv(0x02, {0x05}), tlv(0x17, text("240102Z"))}),
                                   Length::Indefinite))),
         Reader::OpenSSL},
        {"revoked list's length of 140 with a needless octet",
         CHANGED(p.revoked = tlv(0x30, entries(7), Length::Long)), Reader::OpenSSL},
        {"issuer's length of 18 in long form", CHANGED(p.issuer.insert(p.issuer.begin() + 1, 0x81)),
         Reader::OpenSSL},
        {"signature as a constructed BIT STRING in pieces",
         CHANGED(p.signature =
                     tlv(0x23, cat({tlv(0x03, {0x00}), tlv(0x03, {0x01})}), Length::Indefinite)),
         Reader::OpenSSL},
        {"issuer's value as a constructed string",
         CHANGED(p.issuer =
                     issuerOf(tlv(0x06, kCommonName),
                              tlv(0x2c, cat({tlv(0x0c, text("Te")), tlv(0x0c, text("st"))})))),
         Reader::OpenSSL},
        {"thisUpdate with a high tag number",
         CHANGED(p.thisUpdate = tlv(Bytes{0x1f, 0x17}, text("240102030405Z"))), Reader::OpenSSL},
        {"issuer's attribute type with a high tag number",
         CHANGED(p.issuer = issuerOf(tlv(Bytes{0x1f, 0x06}, kCommonName), tlv(0x0c, text("CA")))),
         Reader::OpenSSL},
        {"revoked list with the constructed bit clear", CHANGED(p.revoked[0] = 0x10),
         Reader::OpenSSL},
        {"critical FALSE written out, a byte after the extension's INTEGER",
         CHANGED(p.extensions = tlv(0xa0, tlv(0x30, extension(kCrlNumber, {0x02, 0x01, 0x2a, 0xff},
                                                              tlv(0x01, {0x00}))))),
         Reader::OpenSSL},
        {"TBS with the constructed bit clear", tbsPrimitive, Reader::Nobody},
        {"serial number with a needless leading zero",
         CHANGED(p.revoked = tlv(0x30, entry({0x00, 0x05}))), Reader::Nobody},
        {"issuer in UTF8String with an overlong character",
         CHANGED(p.issuer = nameOf(0x0c, {0xc0, 0x80})), Reader::Nobody},
        {"end-of-contents octets inside a definite list",
         CHANGED(p.revoked = tlv(0x30, cat({entry({0x05}), {0x00, 0x00}}))), Reader::Nobody},
        {"empty extension value in long form at the end of its extension",
         CHANGED(p.extensions = tlv(
                     0xa0, tlv(0x30, tlv(0x30, cat({tlv(0x06, kCrlNumber), {0x04, 0x81, 0x00}}))))),
         Reader::Nobody},
        {"primitive string of indefinite length", CHANGED(p.signature = {0x03, 0x80, 0x00, 0x00}),
         Reader::Nobody},
        {"extension name that ends inside a sub-identifier",
         CHANGED(p.extensions = tlv(0xa0, tlv(0x30, extension({0x55, 0x1d, 0x94}, {0x05, 0x00})))),
         Reader::Nobody},
        {"a byte after the list", cat({Parts().build(), {0x00}}), Reader::Nobody},
        {"a certificate", labpki::Authority::root("cn=Root").certificateDER(), Reader::Nobody},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scanned(c.der), c.reader == Reader::Scanner) << c.label;
        EXPECT_EQ(opensslAccepts(c.der), c.reader != Reader::Nobody) << c.label << " (OpenSSL)";
        EXPECT_EQ(crlcompare::check(c.der.data(), c.der.size()), "") << c.label;
    }
}

// The fuzz target's seeds, lists of every shape the generator makes and more.
TEST(ASNCertificateList, SeedsAgreeWithOpenSSL) {
    for (const auto& [name, der] : seeds()) {
        EXPECT_EQ(crlcompare::check(der.data(), der.size()), "") << name;
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
    int narrowedLists = 0;
    for (const auto& l : lists) {
        std::unique_ptr<RYXASNCertificateList> list = decoded(l.der);
        std::vector<std::string> asked;
        for (bool revoked : {true, false}) {
            std::istringstream serials(revoked ? l.revoked : l.kept);
            for (std::string serial; serials >> serial; asked.push_back(serial)) {
                EXPECT_EQ(list->isRevoked(serial.c_str()), revoked) << serial;
            }
        }
        EXPECT_EQ(crlcompare::compareLookups(*list, labpki::crlFromDER(l.der).get()), "");
        // Narrowed to the serial numbers asked about, OpenSSL reads the same
        // answers from it, and its signature check fails (without a key
        // operation: the signature is empty). Lists whose entries name other
        // issuers are not narrowed.
        const RYXBuffer narrowed = list->getNarrowedDER(asked);
        if (narrowed.getLength() == 0) {
            continue;
        }
        ++narrowedLists;
        const unsigned char* p = narrowed.getValue();
        ryx::UniquePtr<X509_CRL> copy(d2i_X509_CRL(nullptr, &p, narrowed.getLength()));
        ASSERT_TRUE(copy) << l.revoked;
        EXPECT_EQ(X509_NAME_cmp(X509_CRL_get_issuer(copy.get()), list->getIssuer().native()), 0);
        for (const std::string& serial : asked) {
            BIGNUM* bn = nullptr;
            BN_hex2bn(&bn, serial.c_str());
            const ryx::UniquePtr<BIGNUM> ownBn(bn);
            ryx::UniquePtr<ASN1_STRING> number(BN_to_ASN1_INTEGER(bn, nullptr));
            X509_REVOKED* entry = nullptr;
            EXPECT_EQ(X509_CRL_get0_by_serial(copy.get(), &entry, number.get()) == 1,
                      list->isRevoked(serial.c_str()))
                << serial;
        }
        EXPECT_NE(X509_CRL_verify(copy.get(), X509_get0_pubkey(ca.certificate())), 1);
        ERR_clear_error();
    }
    EXPECT_EQ(narrowedLists, 4);  // all but the list with entries of another issuer
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
}

}  // namespace
