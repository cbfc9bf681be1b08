#include "labsample.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace labsample {

namespace {

// Serial numbers: the root is 1, the issuing CA 2; 3 is a retired CA
// certificate listed on the root's ARL; the users come from the issuing CA.
constexpr std::uint64_t kRetiredCASerial = 3;
constexpr std::uint64_t kAliceSerial = 0x1001;
constexpr std::uint64_t kBobSerial = 0x1002;
// Lists stay current for a month, longer than a demo directory lives.
constexpr long kListLifetime = 30L * 24 * 3600;

std::string text(const labpki::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

labpki::CrlOptions listRevoking(std::vector<std::uint64_t> serials) {
    labpki::CrlOptions options;
    options.serials = std::move(serials);
    options.nextUpdate = labpki::fromNow(kListLifetime);
    return options;
}

}  // namespace

std::string urlEncodedDN(const std::string& dn) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : dn) {
        if (std::isalnum(c) ||
            std::string("-._~,=+;").find(static_cast<char>(c)) != std::string::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0f];
        }
    }
    return out;
}

Sample load(LabSlapd& slapd) {
    const std::string& suffix = slapd.suffix();
    Sample s;
    s.rootDN = "cn=Lab Root CA," + suffix;
    s.caDN = "cn=Lab Issuing CA," + suffix;
    s.crlPointDN = "cn=crl1,ou=CRLs," + suffix;
    s.aliceDN = "cn=Alice,ou=People," + suffix;
    s.bobDN = "cn=Bob,ou=People," + suffix;
    s.crlURL = slapd.url() + "/" + urlEncodedDN(s.crlPointDN) + "?certificateRevocationList";

    const labpki::Authority root = labpki::Authority::root(s.rootDN);
    const labpki::Authority ca = root.intermediate(s.caDN);
    labpki::CertOptions user;
    user.crlDistributionPoints = {s.crlURL};
    user.serial = kAliceSerial;
    s.alice = ca.issue(s.aliceDN, user);
    user.serial = kBobSerial;
    s.bob = ca.issue(s.bobDN, user);
    s.root = root.certificateDER();
    s.ca = ca.certificateDER();
    const labpki::Bytes rootCRL = root.crl(listRevoking({}));
    const labpki::Bytes rootARL = root.arl(listRevoking({kRetiredCASerial}));
    const labpki::Bytes caCRL = ca.crl(listRevoking({kBobSerial}));
    s.caCRL = caCRL;
    labpki::CrlOptions next = listRevoking({kBobSerial, kAliceSerial});
    next.crlNumber = 2;
    s.caNextCRL = ca.crl(next);

    auto add = [&](const std::string& dn, const std::vector<LabSlapd::Attribute>& attributes,
                   const std::string& description) {
        slapd.addEntry(dn, attributes);
        s.entries.push_back({dn, description});
    };
    add(s.rootDN,
        {{"objectClass", {"applicationProcess", "pkiCA"}},
         {"cn", {"Lab Root CA"}},
         {"cACertificate", {text(s.root)}},
         {"authorityRevocationList", {text(rootARL)}},
         {"certificateRevocationList", {text(rootCRL)}}},
        "root CA: certificate, ARL (revokes the retired CA certificate 3), empty CRL");
    add(s.caDN,
        {{"objectClass", {"applicationProcess", "pkiCA"}},
         {"cn", {"Lab Issuing CA"}},
         {"cACertificate", {labpki::asnHexText(s.ca)}},
         {"certificateRevocationList", {text(caCRL)}}},
        "issuing CA: certificate as \"{ASN}\" hex text, CRL (revokes Bob)");
    add("ou=CRLs," + suffix, {{"objectClass", {"organizationalUnit"}}, {"ou", {"CRLs"}}},
        "folder of CRL distribution points");
    add(s.crlPointDN,
        {{"objectClass", {"cRLDistributionPoint"}},
         {"cn", {"crl1"}},
         {"certificateRevocationList", {text(caCRL)}}},
        "CRL distribution point of the user certificates: the issuing CA's CRL");
    add("ou=People," + suffix, {{"objectClass", {"organizationalUnit"}}, {"ou", {"People"}}},
        "folder of users");
    auto addUser = [&](const std::string& dn, const char* name, const labpki::Bytes& cert,
                       const char* state) {
        add(dn,
            {{"objectClass", {"inetOrgPerson", "pkiUser"}},
             {"cn", {name}},
             {"sn", {name}},
             {"userCertificate", {text(cert)}}},
            std::string("user certificate (") + state + ")");
    };
    addUser(s.aliceDN, "Alice", s.alice, "valid");
    addUser(s.bobDN, "Bob", s.bob, "revoked");
    return s;
}

}  // namespace labsample
