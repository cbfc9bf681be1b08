// The directory manager end to end against a slapd with the stock schema, where
// certificate and revocation-list values are stored and returned under
// ";binary": the revocation lists in their order (authority lists first, a
// list stored under both kinds of name twice), and certificates, which the
// manager reads only under the plain name.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kFullDN = "cn=Full CA,dc=example,dc=com";
const char* const kCrlOnlyDN = "cn=CRL Only CA,dc=example,dc=com";
const char* const kSameDN = "cn=Same CA,dc=example,dc=com";
const char* const kBareDN = "cn=Bare CA,dc=example,dc=com";

labpki::CrlOptions numbered(std::uint64_t number, size_t revoked) {
    labpki::CrlOptions o;
    o.crlNumber = number;
    o.revokedCount = revoked;
    return o;
}

struct Data {
    labpki::Authority full = labpki::Authority::root(kFullDN);
    labpki::Authority crlOnly = labpki::Authority::root(kCrlOnlyDN);
    labpki::Authority same = labpki::Authority::root(kSameDN);
    Bytes arl = full.arl();
    Bytes crlA = full.crl(numbered(1, 1));
    Bytes crlB = full.crl(numbered(2, 4));
    Bytes onlyCrl = crlOnly.crl();
    Bytes sameCrl = same.crl();
};

class ManagerStockTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::Stock);
        s_slapd->start();
        s_data = new Data;
        const Data& d = *s_data;
        const std::vector<std::string> ca = {"applicationProcess", "pkiCA"};
        s_slapd->addEntry(kFullDN,
                          {{"objectClass", ca},
                           {"cn", {"Full CA"}},
                           {"cACertificate;binary", {bytes(d.full.certificateDER())}},
                           {"certificateRevocationList;binary", {bytes(d.crlA), bytes(d.crlB)}},
                           {"authorityRevocationList;binary", {bytes(d.arl)}}});
        s_slapd->addEntry(kCrlOnlyDN, {{"objectClass", ca},
                                       {"cn", {"CRL Only CA"}},
                                       {"certificateRevocationList;binary", {bytes(d.onlyCrl)}}});
        s_slapd->addEntry(kSameDN, {{"objectClass", ca},
                                    {"cn", {"Same CA"}},
                                    {"authorityRevocationList;binary", {bytes(d.sameCrl)}},
                                    {"certificateRevocationList;binary", {bytes(d.sameCrl)}}});
        s_slapd->addEntry(kBareDN, {{"objectClass", ca}, {"cn", {"Bare CA"}}});
    }
    static void TearDownTestSuite() {
        delete s_data;
        s_data = nullptr;
        delete s_slapd;
        s_slapd = nullptr;
    }

    void SetUp() override {
        Connection c;
        c.port = s_slapd->port();
        c.userDN = s_slapd->rootDN();
        c.password = s_slapd->rootPassword();
        m_manager = makeManager(c);
        ASSERT_TRUE(m_manager);
    }

    std::vector<Bytes> crls(const char* dn) {
        std::unique_ptr<RYXASNCRLContainer> c(m_manager->getCRLs(RYXASNx500Name(dn)));
        EXPECT_TRUE(c != nullptr);
        return contents(c.get());
    }
    std::vector<Bytes> arls(const char* dn) {
        std::unique_ptr<RYXASNCRLContainer> c(m_manager->getARLs(RYXASNx500Name(dn)));
        EXPECT_TRUE(c != nullptr);
        return contents(c.get());
    }

    static LabSlapd* s_slapd;
    static Data* s_data;
    Plugin m_plugin;
    std::unique_ptr<RYXDIRManager> m_manager;
};

LabSlapd* ManagerStockTest::s_slapd = nullptr;
Data* ManagerStockTest::s_data = nullptr;

TEST_F(ManagerStockTest, CrlsInValueOrderAndArlsFirstInTheAuthorityList) {
    const Data& d = *s_data;
    EXPECT_EQ((std::vector<Bytes>{d.crlA, d.crlB}), crls(kFullDN));
    EXPECT_EQ((std::vector<Bytes>{d.arl, d.crlA, d.crlB}), arls(kFullDN));
    // Without an authority list getARLs returns the CRLs alone.
    EXPECT_EQ(std::vector<Bytes>{d.onlyCrl}, crls(kCrlOnlyDN));
    EXPECT_EQ(std::vector<Bytes>{d.onlyCrl}, arls(kCrlOnlyDN));
}

TEST_F(ManagerStockTest, ListStoredUnderBothNamesComesTwiceFromGetARLs) {
    const Data& d = *s_data;
    EXPECT_EQ(std::vector<Bytes>{d.sameCrl}, crls(kSameDN));
    EXPECT_EQ((std::vector<Bytes>{d.sameCrl, d.sameCrl}), arls(kSameDN));
}

TEST_F(ManagerStockTest, EntryWithoutListsGivesEmptyContainers) {
    EXPECT_TRUE(crls(kBareDN).empty());
    EXPECT_TRUE(arls(kBareDN).empty());
}

TEST_F(ManagerStockTest, CertificatesUnderBinaryDescriptionAreNotCollected) {
    // The server returns the value as "cACertificate;binary": not the queried name.
    std::unique_ptr<RYXASNCertificateContainer> c(
        m_manager->getCACertificates(RYXASNx500Name(kFullDN)));
    ASSERT_TRUE(c);
    EXPECT_TRUE(c->empty());
}

TEST_F(ManagerStockTest, UrlsNameTheBinaryDescription) {
    const Data& d = *s_data;
    const std::string base = s_slapd->url() + "/" + kFullDN;
    std::unique_ptr<RYXASNCRLContainer> c(
        m_manager->getViaURI(RYXString((base + "?certificateRevocationList;binary").c_str())));
    ASSERT_TRUE(c);
    EXPECT_EQ((std::vector<Bytes>{d.crlA, d.crlB}), contents(c.get()));
    // All attributes: the certificate is skipped, the lists come in name order.
    c.reset(m_manager->getViaURI(RYXString(base.c_str())));
    ASSERT_TRUE(c);
    EXPECT_EQ((std::vector<Bytes>{d.arl, d.crlA, d.crlB}), contents(c.get()));
}

}  // namespace
