// The validation library against slapd on both schemas: verdicts that need
// what the tool's table does not reach (a bad signature under a directory CA,
// a delta list alone, bad values beside good ones, distribution points asking
// for the other attribute description), each object fetched once for many
// certificates, the shared cache folder written by processes at once, and one
// validator shared by threads.
#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"
#include "runprogram.h"
#include "ryxpkix.h"

namespace {

using labpki::Authority;
using labpki::Bytes;
using managerhost::bytes;
using V = RYXPKIXVerdict;

const std::string kSuffix = ",dc=example,dc=com";

// The same list marked as a delta of base number 1 and signed again.
Bytes deltaOf(const Bytes& der, const Authority& ca) {
    labpki::CrlPtr crl = labpki::crlFromDER(der);
    ryx::UniquePtr<ASN1_STRING> base(ASN1_INTEGER_new());
    ASN1_INTEGER_set(base.get(), 1);
    X509_CRL_add1_ext_i2d(crl.get(), NID_delta_crl, base.get(), 1, 0);
    X509_CRL_sign(crl.get(), ca.key(), EVP_sha256());
    return labpki::toDER(crl.get());
}

// The manager's searches that reach the directory while trace was captured.
size_t searches(const managerhost::TraceCapture& trace) {
    return trace.entries("doSearch") + trace.entries("doSearchByURI");
}

class PkixTest : public ::testing::TestWithParam<LabSlapd::Schema> {
  protected:
    void SetUp() override {
        const bool stock = GetParam() == LabSlapd::Schema::Stock;
        const std::string binary = stock ? ";binary" : "";
        slapd = std::make_unique<LabSlapd>(GetParam());
        slapd->start();
        const Authority root = Authority::root("cn=Root" + kSuffix);
        const Authority inter = root.intermediate("cn=Inter" + kSuffix, Authority::caDefaults(2));
        const Authority impostor =
            root.intermediate("cn=Inter" + kSuffix, Authority::caDefaults(3));
        const Authority deltaCA = root.intermediate("cn=Delta" + kSuffix, Authority::caDefaults(4));
        const Authority forged = root.intermediate("cn=Forged" + kSuffix, Authority::caDefaults(5));
        labpki::CrlOptions revokeBob;
        revokeBob.serials = {12};
        const auto entry = [&](const std::string& cn, std::vector<LabSlapd::Attribute> values) {
            managerhost::addCa(*slapd, "cn=" + cn + kSuffix, values);
        };
        // DER cut short, beside the good values (the stock schema refuses it).
        const std::vector<std::string> garbage =
            stock ? std::vector<std::string>() : std::vector<std::string>{"\x30\x03\x02\x01"};
        const auto with = [&garbage](std::vector<std::string> good, bool first) {
            good.insert(first ? good.begin() : good.end(), garbage.begin(), garbage.end());
            return good;
        };
        entry("Root", {{"authorityRevocationList" + binary, {bytes(root.arl())}}});
        entry("Inter",
              {{"cACertificate" + binary, with({bytes(inter.certificateDER())}, true)},
               {"certificateRevocationList" + binary, with({bytes(inter.crl(revokeBob))}, false)}});
        entry("Delta",
              {{"cACertificate" + binary, {bytes(deltaCA.certificateDER())}},
               {"certificateRevocationList" + binary, {bytes(deltaOf(deltaCA.crl(), deltaCA))}}});
        labpki::CrlOptions revokeFred;
        revokeFred.revokedCount = 3;  // others too, so that OpenSSL gets a narrowed copy
        revokeFred.serials = {15};
        Bytes badSignature = forged.crl(revokeFred);
        badSignature.back() ^= 1;
        entry("Forged", {{"cACertificate" + binary, {bytes(forged.certificateDER())}},
                         {"certificateRevocationList" + binary, {bytes(badSignature)}}});
        slapd->addEntry("cn=DP" + kSuffix,
                        {{"objectClass", {"cRLDistributionPoint"}},
                         {"cn", {"DP"}},
                         {"certificateRevocationList" + binary, {bytes(inter.crl(revokeBob))}}});
        anchors.reset(X509_STORE_new());
        X509_STORE_add_cert(anchors.get(), const_cast<X509*>(root.certificate()));
        const auto leaf = [&](const Authority& ca, const char* cn, std::uint64_t serial,
                              const std::string& point = std::string()) {
            labpki::CertOptions o;
            o.serial = serial;
            if (!point.empty()) {
                o.crlDistributionPoints = {slapd->url() + "/cn=DP" + kSuffix + "?" + point};
            }
            certs[cn] = labpki::certificateFromDER(ca.issue("cn=" + std::string(cn) + kSuffix, o));
        };
        leaf(inter, "alice", 11);
        leaf(inter, "bob", 12);
        leaf(impostor, "mallory", 13);
        leaf(deltaCA, "dora", 14);
        leaf(forged, "fred", 15);
        leaf(inter, "dave", 12, "certificateRevocationList;binary");
        leaf(inter, "erin", 12, "certificateRevocationList");
        // The stock schema answers cACertificate;binary when cACertificate is asked for.
        ::setenv("RYX_LDAP_FOLD_BINARY", "1", 1);
        managerhost::Connection c;
        c.port = slapd->port();
        c.errorMode = 1;
        info = std::make_unique<RYXDIRConnectInfo::LDAP>(c.info());
        manager = managerhost::makeManager(c);
        values = std::make_unique<RYXPKIXLdapValueSource>(*info);
    }

    RYXPKIXValidator validator(const RYXPKIXOptions& options = RYXPKIXOptions()) {
        return RYXPKIXValidator(*manager, anchors.get(), "roots", options, values.get());
    }

    bool octetString() const { return GetParam() == LabSlapd::Schema::OctetString; }

    static bool mentions(const std::vector<std::string>& notes, const std::string& part) {
        return part.empty() || std::any_of(notes.begin(), notes.end(), [&](const std::string& n) {
                   return n.find(part) != std::string::npos;
               });
    }

    managerhost::Plugin plugin;
    std::unique_ptr<LabSlapd> slapd;
    ryx::UniquePtr<X509_STORE> anchors;
    std::map<std::string, labpki::CertPtr> certs;
    std::unique_ptr<RYXDIRConnectInfo::LDAP> info;
    std::unique_ptr<RYXDIRManager> manager;
    std::unique_ptr<RYXPKIXValueSource> values;
};

// Checked by threads sharing one validator (run under ThreadSanitizer in CI).
TEST_P(PkixTest, Verdicts) {
    const std::map<std::string, V> verdicts = {
        {"valid", V::Valid}, {"invalid", V::Invalid}, {"unavailable", V::RevocationUnavailable}};
    const auto rows = spawntest::readCases(PKIX_CASES "/verdicts.tsv");
    RYXPKIXValidator v = validator();
    const auto check = [&](const std::vector<std::string>& row) {
        SCOPED_TRACE(row.at(0));
        const RYXPKIXResult r = v.validate(certs.at(row[0]).get(), nullptr, {"file", row[0]});
        EXPECT_EQ(r.verdict, verdicts.at(row.at(1))) << r.decisive.text;
        EXPECT_EQ(X509_verify_cert_error_string(r.decisive.code), row.at(2)) << r.decisive.text;
        EXPECT_TRUE(mentions(r.notes, octetString() ? row.at(3) : ""))
            << ::testing::PrintToString(r.notes);
        const bool revoked = r.decisive.code == X509_V_ERR_CERT_REVOKED;
        ASSERT_EQ(r.revocations.size(), revoked ? 1u : 0u);
        if (revoked) {
            EXPECT_EQ(r.revocations[0].serial, "0C");
            EXPECT_EQ(r.revocations[0].crlNumber, "1");
            EXPECT_FALSE(r.revocations[0].date.empty());
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (const auto& row : rows) {
                check(row);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
}

// Many certificates of one CA: each entry and URL is asked once.
TEST_P(PkixTest, FetchesOnceForManyCertificates) {
    RYXPKIXValidator v = validator();
    managerhost::TraceCapture trace;
    for (int i = 0; i < 5; ++i) {
        for (const char* name : {"alice", "bob", "dave"}) {
            v.validate(certs[name].get(), nullptr, {"file", name});
        }
    }
    // Inter's CA certificates and CRLs, Root's ARLs, the URL (asked again
    // without ";binary" where the schema stores the plain name).
    EXPECT_EQ(searches(trace), octetString() ? 5u : 4u);
}

// The shared folder: two processes write it at once, and a third run reads it.
TEST_P(PkixTest, CacheFolderSharedByProcesses) {
    const std::string folder = slapd->directory() + "/cache";
    RYXPKIXOptions options;
    options.cacheDir = folder;
    pid_t children[2];
    for (pid_t& child : children) {
        child = ::fork();
        if (child == 0) {
            RYXPKIXValidator v = validator(options);
            const RYXPKIXResult r = v.validate(certs["bob"].get(), nullptr, {"file", "bob"});
            ::_exit(r.verdict == V::Invalid ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    size_t files = 0;
    for (const auto& f : std::filesystem::directory_iterator(folder)) {
        EXPECT_EQ(f.path().extension(), ".crls") << "a temporary file left behind: " << f.path();
        ++files;
    }
    EXPECT_EQ(files, 2u);  // Inter's CRLs and Root's ARLs
    managerhost::TraceCapture trace;
    RYXPKIXValidator v = validator(options);
    EXPECT_EQ(v.validate(certs["bob"].get(), nullptr, {"file", "bob"}).verdict, V::Invalid);
    EXPECT_EQ(searches(trace), 1u);  // the CA certificates only
}

INSTANTIATE_TEST_SUITE_P(Schemas, PkixTest,
                         ::testing::Values(LabSlapd::Schema::Stock, LabSlapd::Schema::OctetString));

}  // namespace
