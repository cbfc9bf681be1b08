// Revocation lists for the tests and the fuzz seeds: the hand-made encodings of
// crls.tsv (shapes the lab's generator does not make: BER forms, version 1,
// GeneralizedTime, negative serial numbers, entries of another issuer or
// removed from the list, CRL numbers repeated or of the wrong type), and the
// seed corpus of the revocation-list fuzz target, which the unit tests check.
#ifndef CRLBUILD_H
#define CRLBUILD_H

#include <algorithm>
#include <sstream>
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

// Lists of many shapes from the lab's generator (the "lab" rows), the built
// ones, and a certificate.
inline std::vector<std::pair<std::string, Bytes>> seeds() {
    std::vector<std::pair<std::string, Bytes>> out;
    const labpki::Authority ca = labpki::Authority::root("cn=Seed CA+uid=s1,ou=Fuzz,o=Org,c=US");
    const labpki::Authority utf8 =
        labpki::Authority::root("cn=Zertifizierungsstelle \xc3\x84,c=DE");
    const auto number = [](const std::string& text) { return std::stoull(text, nullptr, 0); };
    for (const auto& row : cases({"lab"})) {
        labpki::CrlOptions o;
        o.thisUpdate = 1704164645;  // 2024-01-02
        o.revokedCount = number(row.at(3));
        o.firstSerial = number(row.at(4));
        o.hasNextUpdate = row.at(5) == "yes";
        o.crlNumber = number(row.at(6));
        o.withReasons = row.at(7) == "yes";
        std::istringstream serials(row.size() > 8 ? row[8] : "");
        for (std::string serial; serials >> serial;) {
            o.serials.push_back(number(serial));
        }
        out.emplace_back(row[1],
                         row[2] == "arl" ? ca.arl(o) : (row[2] == "crl" ? ca : utf8).crl(o));
    }
    out.emplace_back("certificate", ca.certificateDER());
    for (const auto& row : cases({"seed"})) {
        out.emplace_back(row.at(1), fromHex(row.at(2)));
    }
    return out;
}

}  // namespace crlbuild

#endif
