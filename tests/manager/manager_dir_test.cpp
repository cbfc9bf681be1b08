// The manager made by the loaded plug-in's entry function, fetching from slapd:
// on the octet-string schema (plain names, text values) with its faults and
// dates after 2038, and on the stock schema (";binary").
#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"
#include "runprogram.h"

using namespace managerhost;

namespace {

static_assert(sizeof(std::time_t) == 8, "time_t must hold dates after 2038");

const char* const kCaDN = "cn=Root CA,dc=example,dc=com";
const char* const kHexDN = "cn=Hex CA,dc=example,dc=com";
const char* const kAliceDN = "cn=Alice,ou=People,dc=example,dc=com";
const std::string kNul(1, '\0');

// Seconds since 1970 of the root's validity and its second list's updates: in
// 2040, 2060 and 2045.
const std::time_t kNotBefore = 2208988800, kNotAfter = 2855822400, kThisUpdate = 2371982400,
                  kNextUpdate = 2374660800;

// Retrievals of a case file (see dir-retrievals.tsv): managers made once per
// connection name, objects named in a comma-separated list.
void expectRetrievals(const std::string& file, const std::map<std::string, Connection>& connections,
                      const std::map<std::string, Bytes>& objects, const std::string& url) {
    std::map<std::string, std::unique_ptr<RYXDIRManager>> managers;
    for (const auto& c : spawntest::readCases(RYX_MANAGER_CASES "/" + file, {{"URL", url}})) {
        SCOPED_TRACE(c[0] + " " + c[1] + " " + c[2]);
        std::unique_ptr<RYXDIRManager>& m = managers[c[0]];
        if (!m) {
            m = makeManager(connections.at(c[0]));
        }
        std::vector<Bytes> expected;
        std::istringstream names(c[3]);
        for (std::string name; std::getline(names, name, ',');) {
            expected.push_back(objects.at(name));
        }
        EXPECT_EQ(fetch(*m, c[1][0], c[2]), expected);
    }
}

labpki::CrlOptions crlOptions(std::uint64_t number, size_t revoked, std::time_t thisUpdate = 0,
                              std::time_t nextUpdate = 0) {
    labpki::CrlOptions o;
    o.crlNumber = number;
    o.revokedCount = revoked;
    o.thisUpdate = thisUpdate;
    o.nextUpdate = nextUpdate;
    return o;
}

// The root's certificate and second list carry dates after 2038.
struct Data {
    labpki::Authority root = labpki::Authority::root(kCaDN, [] {
        labpki::CertOptions o = labpki::Authority::caDefaults();
        o.notBefore = kNotBefore;
        o.notAfter = kNotAfter;
        return o;
    }());
    labpki::Authority inter1 = root.intermediate("cn=Inter One,dc=example,dc=com");
    labpki::Authority inter2 = root.intermediate("cn=Inter Two,dc=example,dc=com");
    labpki::Authority inter3 = root.intermediate("cn=Inter Three,dc=example,dc=com");
    Bytes alice1 = root.issue(kAliceDN, 101);
    Bytes alice2 = root.issue(kAliceDN, 102);
    Bytes laptop = root.issue("cn=Laptop,cn=Alice,ou=People,dc=example,dc=com", 103);
    Bytes crl = root.crl();
    Bytes crl2 = root.crl(crlOptions(2, 2, kThisUpdate, kNextUpdate));
    Bytes arl = root.arl();
    // The CA's certificates: binary DER first, then text: the two accepted
    // marks, a mark in other letter case and a one-line PEM (both skipped).
    std::vector<std::string> caValues = {
        bytes(root.certificateDER()), labpki::asnHexText(inter1.certificateDER(), "{ASN}"),
        labpki::asnHexText(inter2.certificateDER(), "{Asn}"),
        labpki::asnHexText(inter3.certificateDER(), "{asn}"),
        std::regex_replace(labpki::certificatePEM(inter3.certificateDER()), std::regex("\n"), "")};
};

class ManagerOctetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = std::make_unique<LabSlapd>(LabSlapd::Schema::OctetString);
        s_slapd->start();
        s_data = std::make_unique<Data>();
        const Data& d = *s_data;
        addCa(*s_slapd, kCaDN,
              {{"cACertificate", d.caValues},
               {"certificateRevocationList", {bytes(d.crl)}},
               {"authorityRevocationList", {bytes(d.arl)}}});
        // Below the CA: outside its base-object search.
        addCa(*s_slapd, "cn=Sub,cn=Root CA,dc=example,dc=com",
              {{"cACertificate", {bytes(d.inter3.certificateDER())}}});
        // Revocation lists as marked hex text and as binary DER.
        addCa(*s_slapd, kHexDN,
              {{"certificateRevocationList", {labpki::asnHexText(d.crl, "{ASN}"), bytes(d.crl2)}},
               {"authorityRevocationList", {labpki::asnHexText(d.arl, "{Asn}")}}});
        s_slapd->addEntry("ou=People,dc=example,dc=com",
                          {{"objectClass", {"organizationalUnit"}}, {"ou", {"People"}}});
        s_slapd->addEntry(kAliceDN, {{"objectClass", {"inetOrgPerson"}},
                                     {"cn", {"Alice"}},
                                     {"sn", {"Example"}},
                                     {"userCertificate", {bytes(d.alice1), bytes(d.alice2)}}});
        s_slapd->addEntry("cn=Laptop,cn=Alice,ou=People,dc=example,dc=com",
                          {{"objectClass", {"applicationProcess", "pkiUser"}},
                           {"cn", {"Laptop"}},
                           {"userCertificate", {bytes(d.laptop)}}});
    }
    static void TearDownTestSuite() {
        s_data.reset();
        s_slapd.reset();
    }

    void SetUp() override {
        if (!s_slapd->running()) {
            s_slapd->start();
        }
    }

    static std::string refused(int rc, const char* text) {
        return "Cannot bind to LDAP server, 127.0.0.1 userDN=" + s_slapd->rootDN() +
               " ldap_simple_bind() rc=" + std::to_string(rc) + ". " + text;
    }
    // Value order, "{ASN}" and "{Asn}" decoded; "{asn}" and the PEM line
    // skipped; the entry below the CA not searched (base object).
    static std::vector<Bytes> expectedCa() {
        return {s_data->root.certificateDER(), s_data->inter1.certificateDER(),
                s_data->inter2.certificateDER()};
    }

    static inline std::unique_ptr<LabSlapd> s_slapd;
    static inline std::unique_ptr<Data> s_data;
    Plugin m_plugin;
};

// Retrievals logged in, anonymously and by URL (cases/dir-retrievals.tsv); a
// duplicate outlives its original.
TEST_F(ManagerOctetTest, Retrievals) {
    const Data& d = *s_data;
    Connection anonymous = rootOf(*s_slapd), wrong = rootOf(*s_slapd);
    anonymous.userDN.clear();
    anonymous.password = "not used without a DN";
    wrong.password = "wrong";
    expectRetrievals("dir-retrievals.tsv",
                     {{"root", rootOf(*s_slapd)}, {"anonymous", anonymous}, {"wrong", wrong}},
                     {{"root", d.root.certificateDER()},
                      {"inter1", d.inter1.certificateDER()},
                      {"inter2", d.inter2.certificateDER()},
                      {"alice1", d.alice1},
                      {"alice2", d.alice2},
                      {"laptop", d.laptop},
                      {"crl", d.crl},
                      {"crl2", d.crl2},
                      {"arl", d.arl}},
                     s_slapd->url());
    for (const Connection& c : {rootOf(*s_slapd), anonymous}) {
        std::unique_ptr<RYXDIRManager> original = makeManager(c);
        EXPECT_EQ(fetch(*original, 'c', kCaDN), expectedCa());
        std::unique_ptr<RYXDIRManager> m(original->duplicate());
        original.reset();
        EXPECT_EQ(fetch(*m, 'u', kAliceDN), (std::vector<Bytes>{d.alice1, d.alice2, d.laptop}));
        EXPECT_TRUE(m->validateConnection());
    }
}

// By name one value that does not decode fails the whole retrieval; by URL a
// value that is no revocation list is skipped, but text that is no hex fails
// (cases/dir-undecodable.tsv).
TEST_F(ManagerOctetTest, ValuesThatDoNotDecode) {
    std::unique_ptr<RYXDIRManager> m = makeManager(rootOf(*s_slapd));
    const std::string pem = labpki::certificatePEM(s_data->root.certificateDER());
    for (const auto& c :
         spawntest::readCases(RYX_MANAGER_CASES "/dir-undecodable.tsv", {{"PEM", pem}})) {
        SCOPED_TRACE(c[0]);
        const std::string dn = "cn=" + c[0] + ",dc=example,dc=com", url = s_slapd->url() + "/" + dn;
        const char kind = c[1][0];
        const Bytes good = kind == 'c' ? s_data->root.certificateDER() : s_data->crl;
        addCa(*s_slapd, dn,
              {{kind == 'c' ? "cACertificate" : "certificateRevocationList", {bytes(good), c[2]}}});
        EXPECT_TRUE(throwsError<RYXException>([&] { fetch(*m, kind, dn); }, std::stoi(c[3])));
        if (c[4] != "0") {
            EXPECT_TRUE(throwsError<RYXException>([&] { fetch(*m, 'l', url); }, std::stoi(c[4])));
        } else {
            EXPECT_EQ(fetch(*m, 'l', url),
                      kind == 'r' ? std::vector<Bytes>{good} : std::vector<Bytes>{});
        }
        s_slapd->deleteEntry(dn);
    }
    // The manager stays usable.
    EXPECT_EQ(fetch(*m, 'c', kCaDN), expectedCa());
}

// Revocation lists by name; the heading of their dumps has no colon and text is
// dumped with its NUL.
TEST_F(ManagerOctetTest, RevocationListDumps) {
    const Data& d = *s_data;
    std::unique_ptr<RYXDIRManager> m = makeManager(rootOf(*s_slapd));
    TraceCapture trace;
    EXPECT_EQ(fetch(*m, 'r', kHexDN), (std::vector<Bytes>{d.crl, d.crl2}));
    const char* plain = "Data Read Trace Limited to 256 Bytes";
    EXPECT_EQ(trace.atLevel(RYX_TRACE_LEVEL_ERROR),
              (std::vector<Record>{dump(plain, labpki::asnHexText(d.crl, "{ASN}") + kNul),
                                   dump(plain, bytes(d.crl2))}));
}

// A missing entry (32), a refused bind (49) and a stopped server by error mode
// (cases/dir-errors.tsv).
TEST_F(ManagerOctetTest, FailuresByErrorMode) {
    const std::map<std::string, std::string> vars = {
        {"URL", s_slapd->url()},
        {"PASSWORD", s_slapd->rootPassword()},
        {"REFUSED", refused(49, "Invalid credentials")},
        {"DOWN", refused(81, "Can't contact LDAP server")}};
    std::map<std::string, std::unique_ptr<RYXDIRManager>> managers;
    for (const auto& c : spawntest::readCases(RYX_MANAGER_CASES "/dir-errors.tsv", vars)) {
        SCOPED_TRACE(c[0] + " mode " + c[1] + " " + c[2] + " " + c[3]);
        if (c[2] == "stop" || c[2] == "start") {
            c[2] == "stop" ? s_slapd->stop() : s_slapd->start();
            continue;
        }
        std::unique_ptr<RYXDIRManager>& m = managers[c[0] + " " + c[1]];
        if (!m) {
            Connection conn = rootOf(*s_slapd, std::stoi(c[1]));
            conn.password = c[0];
            m = makeManager(conn);
        }
        TraceCapture trace;
        if (c[4].empty() || c[4] == "ok") {
            EXPECT_EQ(fetch(*m, c[2][0], c[3]), c[4].empty() ? std::vector<Bytes>{} : expectedCa());
        } else {
            EXPECT_TRUE(throwsError<RYXDIRException>(
                [&] {
                    c[2] == "v" ? void(m->validateConnection()) : void(fetch(*m, c[2][0], c[3]));
                },
                std::stoi(c[4]), c[5]));
        }
        if (!c[6].empty()) {
            EXPECT_EQ(trace.atLevel(RYX_TRACE_LEVEL_ERROR),
                      c[6] == "none" ? std::vector<Record>{} : std::vector<Record>{errorRec(c[6])});
        }
    }
}

TEST_F(ManagerOctetTest, RestartedServerCostsExactlyOneRetry) {
    std::unique_ptr<RYXDIRManager> m = makeManager(rootOf(*s_slapd));
    EXPECT_EQ(fetch(*m, 'c', kCaDN), expectedCa());  // logged in from here on
    s_slapd->restart();
    ASSERT_GT(s_data->root.certificateDER().size(), 256u);
    TraceCapture trace;
    EXPECT_EQ(fetch(*m, 'c', kCaDN), expectedCa());
    // The retry message once, then a dump of every value as the search results
    // store it (text with its NUL), each cut at 256 bytes.
    std::vector<Record> expected = {
        errorRec("Error(81) from ldap_search().  Can't contact LDAP server  Retrying.")};
    for (const std::string& value : s_data->caValues) {
        const bool text = &value != &s_data->caValues.front();
        expected.push_back(
            dump("Data Read Trace Limited to 256 Bytes:", value + (text ? kNul : "")));
    }
    EXPECT_EQ(trace.atLevel(RYX_TRACE_LEVEL_ERROR), expected);
    EXPECT_EQ(trace.entries("LDAPClient::login(" + s_slapd->rootDN() + ")"), 1u);
}

// A certificate and a revocation list whose times do not fit a 32-bit time_t
// read back with the right dates.
TEST_F(ManagerOctetTest, DatesAfter2038RoundTrip) {
    std::unique_ptr<RYXDIRManager> m = makeManager(rootOf(*s_slapd));
    std::unique_ptr<RYXASNCertificateContainer> certs(m->getCACertificates(RYXASNx500Name(kCaDN)));
    std::unique_ptr<RYXASNCRLContainer> crls(m->getCRLs(RYXASNx500Name(kHexDN)));
    ASSERT_EQ(crls->size(), 2u);
    const RYXASNx509Certificate* cert = certs->getCertificate(0);
    const RYXASNCertificateList* crl = crls->getCRL(1);
    EXPECT_EQ(
        (std::vector<std::string>{cert->getNotBefore().c_str(), cert->getNotAfter().c_str(),
                                  crl->getThisUpdate().c_str(), crl->getNextUpdate().c_str()}),
        // 2040 is written as UTCTime, 2050 and later as GeneralizedTime.
        (std::vector<std::string>{"Jan  1 00:00:00 2040 GMT", "Jun 30 12:00:00 2060 GMT",
                                  "Mar  1 12:00:00 2045 GMT", "Apr  1 12:00:00 2045 GMT"}));
}

// The stock schema stores and returns certificate and revocation-list values
// under ";binary" (cases/stock-retrievals.tsv).
TEST(ManagerStock, RevocationListsUnderBinaryInTheirOrder) {
    LabSlapd slapd(LabSlapd::Schema::Stock);
    slapd.start();
    const char* const full = "cn=Full CA,dc=example,dc=com";
    const char* const same = "cn=Same CA,dc=example,dc=com";
    const labpki::Authority ca = labpki::Authority::root(full);
    const Bytes arl = ca.arl(), crlA = ca.crl(crlOptions(1, 1)), crlB = ca.crl(crlOptions(2, 4));
    const Bytes sameCrl = labpki::Authority::root(same).crl();
    addCa(slapd, full,
          {{"cACertificate;binary", {bytes(ca.certificateDER())}},
           {"certificateRevocationList;binary", {bytes(crlA), bytes(crlB)}},
           {"authorityRevocationList;binary", {bytes(arl)}}});
    addCa(slapd, same,
          {{"authorityRevocationList;binary", {bytes(sameCrl)}},
           {"certificateRevocationList;binary", {bytes(sameCrl)}}});
    Plugin plugin;
    expectRetrievals("stock-retrievals.tsv", {{"root", rootOf(slapd)}},
                     {{"arl", arl}, {"crlA", crlA}, {"crlB", crlB}, {"same", sameCrl}},
                     slapd.url());
}

}  // namespace
