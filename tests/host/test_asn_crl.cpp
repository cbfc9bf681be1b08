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

bool scanned(const Bytes& der) {
    ryxasn_internal::CrlLayout layout;
    return ryxasn_internal::scanCertificateList(der.data(), der.size(), layout) == der.size();
}

// The scanner takes strict DER; each BER form OpenSSL tolerates goes to
// d2i_X509_CRL, and the list then answers as OpenSSL's object does; what
// OpenSSL refuses is refused. The rows name who reads each list. The fuzz
// target's seeds agree with OpenSSL as well.
TEST(ASNCertificateList, ScansDERAndLeavesTheRestToOpenSSL) {
    for (const auto& row : cases({"scanner", "openssl", "nobody"})) {
        const std::string& reader = row.at(0);
        const Bytes der = fromHex(row.at(2));
        EXPECT_EQ(scanned(der), reader == "scanner") << row.at(1);
        EXPECT_EQ(opensslAccepts(der), reader != "nobody") << row.at(1) << " (OpenSSL)";
        EXPECT_EQ(crlcompare::check(der.data(), der.size()), "") << row.at(1);
    }
    for (const auto& [name, der] : seeds()) {  // the fuzz target's, of every shape
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
    struct List {
        Bytes der;
        std::string revoked;  // serial numbers, separated by spaces
        std::string kept;
    };
    std::vector<List> lists = {
        {ca.crl(ordered), "1000000 100003f 1000040 100270F", "FFFFFF 1002710 -1000000"},
        {ca.crl(unordered), "0 80 8000000000000000 4000000000000045 05", "6 -5 4000000000000046"},
    };
    for (const auto& row : cases({"lookup"})) {
        lists.push_back({fromHex(row.at(2)), row.at(3), row.at(4)});
    }
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
            const std::string hex = serial[0] == '-' ? "-0x" + serial.substr(1) : "0x" + serial;
            ryx::UniquePtr<ASN1_STRING> number(s2i_ASN1_INTEGER(nullptr, hex.c_str()));
            X509_REVOKED* entry = nullptr;
            EXPECT_EQ(X509_CRL_get0_by_serial(copy.get(), &entry, number.get()) == 1,
                      list->isRevoked(serial.c_str()))
                << serial;
        }
        EXPECT_NE(X509_CRL_verify(copy.get(), X509_get0_pubkey(ca.certificate())), 1);
        ERR_clear_error();
    }
    EXPECT_EQ(narrowedLists, 4);  // all but the list with entries of another issuer
    std::unique_ptr<RYXASNCertificateList> list = decoded(lists.back().der);
    for (const char* bad : {"", "xyz", "12 ", "0x12"}) {
        EXPECT_THROW(list->isRevoked(bad), RYXException) << bad;
    }
    EXPECT_THROW(list->isRevoked(nullptr), RYXException);
}

// What was read is handed out again byte for byte, BER included, without a copy
// for the view; a bad encoding leaves the old value in place.
TEST(ASNCertificateList, KeepsTheBytesItDecoded) {
    const Bytes ber = fromHex(cases({"openssl"}).at(0).at(2));  // outer SEQUENCE indefinite
    std::unique_ptr<RYXASNCertificateList> list = decoded(ber);
    RYXBuffer copy = list->getDEREncoding();
    EXPECT_EQ(Bytes(copy.getValue(), copy.getValue() + copy.getLength()), ber);
    RYXASNCBuffer view = list->getDERView();  // its bytes are crlcompare::check's
    EXPECT_EQ(view.getData(), list->getDERView().getData());
    Bytes bad = ber;
    bad.push_back(0x00);
    EXPECT_THROW(list->decodeDER(bad.data(), bad.size()), RYXASNException);
    EXPECT_EQ(list->getDERView().getData(), view.getData());
    EXPECT_EQ(list->native(), list->native());  // built once
}

}  // namespace
