// Revocation lists for the tests and the fuzz seeds: the hand-made encodings of
// crls.tsv (shapes the lab's generator does not make: BER forms, version 1,
// GeneralizedTime, negative serial numbers, entries of another issuer or
// removed from the list, CRL numbers repeated or of the wrong type), and the
// seed corpus of the revocation-list fuzz target, which the unit tests check.
#ifndef CRLBUILD_H
#define CRLBUILD_H

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "cases.h"
#include "labpki.h"

namespace crlbuild {

using labpki::Bytes;
using labpki::fromHex;

// The rows of crls.tsv whose first field, the kind of case, is one of kinds.
inline std::vector<std::vector<std::string>> cases(const std::vector<std::string>& kinds) {
    std::vector<std::vector<std::string>> rows;
    for (auto& row : casefile::read(RYX_CRL_CASES)) {
        if (std::find(kinds.begin(), kinds.end(), row[0]) != kinds.end()) {
            rows.push_back(row);
        }
    }
    if (rows.empty()) {
        throw std::runtime_error("no cases in " RYX_CRL_CASES);
    }
    return rows;
}

// Lists of many shapes from the lab's generator, the built ones, and a certificate.
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
    for (const auto& row : cases({"seed"})) {
        out.emplace_back(row.at(1), fromHex(row.at(2)));
    }
    return out;
}

}  // namespace crlbuild

#endif
