// An unsigned revocation list built from its parts (OpenSSL's decoder does not
// check the signature), for the tests and the fuzz seeds: a test changes one
// part, or the length form of the whole, and builds.
#ifndef CRLBUILD_H
#define CRLBUILD_H

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace crlbuild

#endif
