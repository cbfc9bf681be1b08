// Writes the seed corpus of crl_fuzz into the folder given: revocation lists of
// many shapes from the lab's PKI generator, and built ones of shapes it does
// not make (version 1, GeneralizedTime, negative serial numbers, entries of
// another issuer or removed from the list, BER length forms).
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "crlbuild.h"
#include "labpki.h"

namespace {

using namespace crlbuild;

void save(const std::string& folder, const std::string& name, const Bytes& der) {
    std::ofstream out(folder + "/" + name + ".der", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
    if (!out) {
        throw std::runtime_error("cannot write seed " + name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crl_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        labpki::Authority ca = labpki::Authority::root("cn=Seed CA+uid=s1,ou=Fuzz,o=Org,c=US");
        labpki::CrlOptions options;
        options.thisUpdate = 1704164645;  // 2024-01-02
        save(folder, "empty", ca.crl(options));
        options.hasNextUpdate = false;
        save(folder, "no-next-update", ca.crl(options));
        options.hasNextUpdate = true;
        options.revokedCount = 3;
        options.crlNumber = 0x1234567890ull;
        save(folder, "three", ca.crl(options));
        options.revokedCount = 150;
        options.firstSerial = 0x7f;
        options.withReasons = true;
        save(folder, "sampled-with-reasons", ca.crl(options));
        options.revokedCount = 70;
        options.firstSerial = 1ull << 62;
        options.withReasons = false;
        options.serials = {5, 1ull << 63, 0x80, 0};
        save(folder, "out-of-order", ca.crl(options));
        options.serials.clear();
        options.revokedCount = 2;
        save(folder, "authority", ca.arl(options));
        labpki::Authority utf8 = labpki::Authority::root("cn=Zertifizierungsstelle \xc3\x84,c=DE");
        save(folder, "utf8-issuer", utf8.crl(options));
        save(folder, "certificate", ca.certificateDER());

        save(folder, "built-ber", with([](Parts& p) {
                                      p.outerForm = Length::Indefinite;
                                      p.tbsForm = Length::Long;
                                  }).build());
        save(folder, "version1-negative-serial", with([](Parts& p) {
                                                     p.version.clear();
                                                     p.extensions.clear();
                                                     p.revoked = tlv(0x30, entry({0xf9}));
                                                 }).build());
        save(folder, "generalized-time", with([](Parts& p) {
                                             p.thisUpdate = tlv(0x18, text("20510203040506Z"));
                                             p.nextUpdate = tlv(0x18, text("20510210040506Z"));
                                         }).build());
        save(folder, "indirect-and-removed",
             with([](Parts& p) {
                 const Bytes other = tlv(0x30, tlv(0xa4, nameOf(0x0c, text("Other CA"))));
                 p.revoked = tlv(
                     0x30,
                     cat({entry({0x0a}, extension(kReasonCode, tlv(0x0a, {0x08}))),
                          entry({0x0b}, extension(kCertificateIssuer, other, tlv(0x01, {0xff}))),
                          entry({0x0c})}));
             }).build());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crl_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
