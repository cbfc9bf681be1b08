// The directory manager end to end against a slapd with the stock schema, where
// certificate and revocation-list values are stored and returned under
// ";binary": revocation lists in their order (authority lists first, a list
// stored under both names twice), by name and by URL, and certificates, which
// the manager reads only under the plain name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

labpki::CrlOptions numbered(std::uint64_t number, size_t revoked) {
    labpki::CrlOptions o;
    o.crlNumber = number;
    o.revokedCount = revoked;
    return o;
}

TEST(ManagerStock, RevocationListsUnderBinaryInTheirOrder) {
    LabSlapd slapd(LabSlapd::Schema::Stock);
    slapd.start();
    const char* const full = "cn=Full CA,dc=example,dc=com";
    const char* const crlOnly = "cn=CRL Only CA,dc=example,dc=com";
    const char* const same = "cn=Same CA,dc=example,dc=com";
    const char* const bare = "cn=Bare CA,dc=example,dc=com";
    const labpki::Authority ca = labpki::Authority::root(full);
    const Bytes arl = ca.arl(), crlA = ca.crl(numbered(1, 1)), crlB = ca.crl(numbered(2, 4));
    const Bytes onlyCrl = labpki::Authority::root(crlOnly).crl();
    const Bytes sameCrl = labpki::Authority::root(same).crl();
    const std::vector<std::string> pkiCA = {"applicationProcess", "pkiCA"};
    slapd.addEntry(full, {{"objectClass", pkiCA},
                          {"cn", {"Full CA"}},
                          {"cACertificate;binary", {bytes(ca.certificateDER())}},
                          {"certificateRevocationList;binary", {bytes(crlA), bytes(crlB)}},
                          {"authorityRevocationList;binary", {bytes(arl)}}});
    slapd.addEntry(crlOnly, {{"objectClass", pkiCA},
                             {"cn", {"CRL Only CA"}},
                             {"certificateRevocationList;binary", {bytes(onlyCrl)}}});
    slapd.addEntry(same, {{"objectClass", pkiCA},
                          {"cn", {"Same CA"}},
                          {"authorityRevocationList;binary", {bytes(sameCrl)}},
                          {"certificateRevocationList;binary", {bytes(sameCrl)}}});
    slapd.addEntry(bare, {{"objectClass", pkiCA}, {"cn", {"Bare CA"}}});

    Plugin plugin;
    Connection c;
    c.port = slapd.port();
    c.userDN = slapd.rootDN();
    c.password = slapd.rootPassword();
    std::unique_ptr<RYXDIRManager> m = makeManager(c);
    const struct {
        const char* dn;
        std::vector<Bytes> crls;
        std::vector<Bytes> arls;
    } cases[] = {
        {full, {crlA, crlB}, {arl, crlA, crlB}},
        {crlOnly, {onlyCrl}, {onlyCrl}},
        {same, {sameCrl}, {sameCrl, sameCrl}},
        {bare, {}, {}},
    };
    for (const auto& e : cases) {
        SCOPED_TRACE(e.dn);
        EXPECT_EQ(fetch(*m, 'r', e.dn), e.crls);
        EXPECT_EQ(fetch(*m, 'a', e.dn), e.arls);
    }
    // The server answers "cACertificate;binary": not the queried name.
    EXPECT_TRUE(fetch(*m, 'c', full).empty());
    // By URL: the attribute named with ";binary", or all of them in name order.
    const std::string url = slapd.url() + "/" + full;
    EXPECT_EQ(fetch(*m, 'l', url + "?certificateRevocationList;binary"),
              (std::vector<Bytes>{crlA, crlB}));
    EXPECT_EQ(fetch(*m, 'l', url), (std::vector<Bytes>{arl, crlA, crlB}));
}

}  // namespace
