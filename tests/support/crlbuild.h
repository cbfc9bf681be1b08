// An unsigned revocation list built from its parts (OpenSSL's decoder does not
// check the signature), for the tests and the fuzz seeds: a test changes one
// part, or the length form of the whole, and builds. Also the seed corpus of
// the revocation-list fuzz target, which the unit tests check as well.
#ifndef CRLBUILD_H
#define CRLBUILD_H

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "labpki.h"

namespace crlbuild {

using Bytes = std::vector<unsigned char>;

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// An element with a definite length in its shortest form, or with the length in
// long form over two octets (a needless one below 256), or in indefinite form.
enum class Length { Short, Long, Indefinite };

inline Bytes tlv(Bytes identifier, const Bytes& content, Length form = Length::Short) {
    Bytes out = std::move(identifier);
    const size_t n = content.size();
    if (form == Length::Indefinite) {
        out.push_back(0x80);
        out.insert(out.end(), content.begin(), content.end());
        out.insert(out.end(), {0x00, 0x00});
        return out;
    }
    if (form == Length::Long || n > 0xff) {
        out.insert(out.end(), {0x82, static_cast<unsigned char>(n >> 8),
                               static_cast<unsigned char>(n & 0xff)});
    } else if (n >= 0x80) {
        out.insert(out.end(), {0x81, static_cast<unsigned char>(n)});
    } else {
        out.push_back(static_cast<unsigned char>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

inline Bytes tlv(unsigned char tag, const Bytes& content, Length form = Length::Short) {
    return tlv(Bytes{tag}, content, form);
}

const Bytes kEcdsaSha256 = tlv(0x30, tlv(0x06, {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x02}));

inline Bytes nameOf(unsigned char stringTag, const Bytes& value) {
    return tlv(0x30,
               tlv(0x31, tlv(0x30, cat({tlv(0x06, {0x55, 0x04, 0x03}), tlv(stringTag, value)}))));
}

inline Bytes entry(const Bytes& serial, const Bytes& extensions = Bytes()) {
    return tlv(0x30, cat({tlv(0x02, serial), tlv(0x17, text("240102020405Z")),
                          extensions.empty() ? Bytes() : tlv(0x30, extensions)}));
}

inline Bytes extension(const Bytes& oid, const Bytes& value, const Bytes& critical = Bytes()) {
    return tlv(0x30, cat({tlv(0x06, oid), critical, tlv(0x04, value)}));
}

const Bytes kCrlNumber = {0x55, 0x1d, 0x14};
const Bytes kReasonCode = {0x55, 0x1d, 0x15};
const Bytes kCertificateIssuer = {0x55, 0x1d, 0x1d};

// The parts of an unsigned list (decoding does not check the signature); a test
// changes one part and builds.
struct Parts {
    Bytes version = tlv(0x02, {0x01});
    Bytes issuer = nameOf(0x0c, text("Test CA"));
    Bytes thisUpdate = tlv(0x17, text("240102030405Z"));
    Bytes nextUpdate = tlv(0x17, text("240109030405Z"));
    Bytes revoked = tlv(0x30, cat({entry({0x05}), entry({0x07})}));
    Bytes extensions = tlv(0xa0, tlv(0x30, extension(kCrlNumber, tlv(0x02, {0x2a}))));
    Bytes signature = tlv(0x03, {0x00, 0x01});
    Length tbsForm = Length::Short;
    Length outerForm = Length::Short;

    Bytes build() const {
        Bytes tbs = tlv(
            0x30, cat({version, kEcdsaSha256, issuer, thisUpdate, nextUpdate, revoked, extensions}),
            tbsForm);
        return tlv(0x30, cat({tbs, kEcdsaSha256, signature}), outerForm);
    }
};

inline Parts with(void (*change)(Parts&)) {
    Parts parts;
    change(parts);
    return parts;
}

// Lists of many shapes from the lab's generator, built ones of shapes it does
// not make (version 1, GeneralizedTime, negative serial numbers, entries of
// another issuer or removed from the list, BER length forms, CRL numbers
// repeated or of the wrong type), and a certificate.
inline std::vector<std::pair<std::string, Bytes>> seeds() {
    std::vector<std::pair<std::string, Bytes>> out;
    labpki::Authority ca = labpki::Authority::root("cn=Seed CA+uid=s1,ou=Fuzz,o=Org,c=US");
    labpki::CrlOptions options;
    options.thisUpdate = 1704164645;  // 2024-01-02
    out.emplace_back("empty", ca.crl(options));
    options.hasNextUpdate = false;
    out.emplace_back("no-next-update", ca.crl(options));
    options.hasNextUpdate = true;
    options.revokedCount = 3;
    options.crlNumber = 0x1234567890ull;
    out.emplace_back("three", ca.crl(options));
    options.revokedCount = 150;
    options.firstSerial = 0x7f;
    options.withReasons = true;
    out.emplace_back("sampled-with-reasons", ca.crl(options));
    options.revokedCount = 70;
    options.firstSerial = 1ull << 62;
    options.withReasons = false;
    options.serials = {5, 1ull << 63, 0x80, 0};
    out.emplace_back("out-of-order", ca.crl(options));
    options.serials.clear();
    options.revokedCount = 2;
    out.emplace_back("authority", ca.arl(options));
    labpki::Authority utf8 = labpki::Authority::root("cn=Zertifizierungsstelle \xc3\x84,c=DE");
    out.emplace_back("utf8-issuer", utf8.crl(options));
    out.emplace_back("certificate", ca.certificateDER());
    const std::pair<const char*, void (*)(Parts&)> built[] = {
        {"built-ber",
         [](Parts& p) {
             p.outerForm = Length::Indefinite;
             p.tbsForm = Length::Long;
         }},
        {"version1-negative-serial",
         [](Parts& p) {
             p.version.clear();
             p.extensions.clear();
             p.revoked = tlv(0x30, entry({0xf9}));
         }},
        {"generalized-time",
         [](Parts& p) {
             p.thisUpdate = tlv(0x18, text("20510203040506Z"));
             p.nextUpdate = tlv(0x18, text("20510210040506Z"));
         }},
        {"version1-without-next-update",
         [](Parts& p) {
             p.version.clear();
             p.nextUpdate.clear();
             p.extensions.clear();
             p.thisUpdate = tlv(0x18, text("20510203040506Z"));
         }},
        {"indirect-and-removed",
         [](Parts& p) {
             const Bytes other = tlv(0x30, tlv(0xa4, nameOf(0x0c, text("Other CA"))));
             p.revoked = tlv(
                 0x30, cat({entry({0x0a}, extension(kReasonCode, tlv(0x0a, {0x08}))),
                            entry({0x0b}, extension(kCertificateIssuer, other, tlv(0x01, {0xff}))),
                            entry({0x0c})}));
         }},
        {"crl-number-twice",
         [](Parts& p) {
             const Bytes n = extension(kCrlNumber, tlv(0x02, {0x01}));
             p.extensions = tlv(0xa0, tlv(0x30, cat({n, n})));
         }},
        {"crl-number-not-integer",
         [](Parts& p) { p.extensions = tlv(0xa0, tlv(0x30, extension(kCrlNumber, {0x05}))); }},
    };
    for (const auto& [name, change] : built) {
        out.emplace_back(name, with(change).build());
    }
    return out;
}

}  // namespace crlbuild

#endif
