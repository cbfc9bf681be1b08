// Writes the seed corpus of crl_fuzz into the folder given: revocation lists of
// many shapes from the lab's PKI generator, and built ones of shapes it does
// not make (version 1, GeneralizedTime, negative serial numbers, entries of
// another issuer or removed from the list, BER length forms).
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "crlbuild.h"
#include "labpki.h"

using namespace crlbuild;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crl_seeds FOLDER\n");
        return 2;
    }
    std::vector<std::pair<std::string, Bytes>> seeds;
    const auto save = [&seeds](const char* name, Bytes der) { seeds.emplace_back(name, der); };
    try {
        labpki::Authority ca = labpki::Authority::root("cn=Seed CA+uid=s1,ou=Fuzz,o=Org,c=US");
        labpki::CrlOptions options;
        options.thisUpdate = 1704164645;  // 2024-01-02
        save("empty", ca.crl(options));
        options.hasNextUpdate = false;
        save("no-next-update", ca.crl(options));
        options.hasNextUpdate = true;
        options.revokedCount = 3;
        options.crlNumber = 0x1234567890ull;
        save("three", ca.crl(options));
        options.revokedCount = 150;
        options.firstSerial = 0x7f;
        options.withReasons = true;
        save("sampled-with-reasons", ca.crl(options));
        options.revokedCount = 70;
        options.firstSerial = 1ull << 62;
        options.withReasons = false;
        options.serials = {5, 1ull << 63, 0x80, 0};
        save("out-of-order", ca.crl(options));
        options.serials.clear();
        options.revokedCount = 2;
        save("authority", ca.arl(options));
        labpki::Authority utf8 = labpki::Authority::root("cn=Zertifizierungsstelle \xc3\x84,c=DE");
        save("utf8-issuer", utf8.crl(options));
        save("certificate", ca.certificateDER());

        save("built-ber", with([](Parts& p) {
                              p.outerForm = Length::Indefinite;
                              p.tbsForm = Length::Long;
                          }).build());
        save("version1-negative-serial", with([](Parts& p) {
                                             p.version.clear();
                                             p.extensions.clear();
                                             p.revoked = tlv(0x30, entry({0xf9}));
                                         }).build());
        save("generalized-time", with([](Parts& p) {
                                     p.thisUpdate = tlv(0x18, text("20510203040506Z"));
                                     p.nextUpdate = tlv(0x18, text("20510210040506Z"));
                                 }).build());
        save("indirect-and-removed",
             with([](Parts& p) {
                 const Bytes other = tlv(0x30, tlv(0xa4, nameOf(0x0c, text("Other CA"))));
                 p.revoked = tlv(
                     0x30,
                     cat({entry({0x0a}, extension(kReasonCode, tlv(0x0a, {0x08}))),
                          entry({0x0b}, extension(kCertificateIssuer, other, tlv(0x01, {0xff}))),
                          entry({0x0c})}));
             }).build());
        for (const auto& [name, der] : seeds) {
            std::ofstream out(std::string(argv[1]) + "/" + name + ".der", std::ios::binary);
            out.write(reinterpret_cast<const char*>(der.data()),
                      static_cast<std::streamsize>(der.size()));
            if (!out)
                throw std::runtime_error("cannot write seed " + name);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crl_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
