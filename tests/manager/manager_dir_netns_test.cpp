// Runs inside a private network namespace (see CMakeLists.txt): slapd listens
// on 127.0.0.1:389 under dc=localhost. A URL without a host is completed to
// "localhost" from its dc= components and reaches it on the default port, and
// the connection the manager opens for a URL (default host, manager's port) is
// the same server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kCaDN = "cn=Local CA,dc=localhost";
const char* const kHostless = "ldap:///cn=Local CA,dc=localhost?certificateRevocationList";
const char* const kCompleted =
    "ldap://localhost/cn=Local CA,dc=localhost?certificateRevocationList";

class ManagerNetnsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_slapd = new LabSlapd(LabSlapd::Schema::OctetString, "dc=localhost", 389);
        s_slapd->start();
        s_ca = new labpki::Authority(labpki::Authority::root(kCaDN));
        s_crl = new Bytes(s_ca->crl());
        s_slapd->addEntry(kCaDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                  {"cn", {"Local CA"}},
                                  {"cACertificate", {bytes(s_ca->certificateDER())}},
                                  {"certificateRevocationList", {bytes(*s_crl)}}});
    }
    static void TearDownTestSuite() {
        delete s_crl;
        s_crl = nullptr;
        delete s_ca;
        s_ca = nullptr;
        delete s_slapd;
        s_slapd = nullptr;
    }

    // The root DN with a wrong password: any bind would fail with ryxcode::kBadCredentials.
    static Connection wrongPassword(const char* host = "127.0.0.1") {
        Connection c;
        c.host = host;
        c.userDN = s_slapd->rootDN();
        c.password = "wrong";
        return c;
    }

    static std::vector<Bytes> caCertificates(RYXDIRManager& m) {
        std::unique_ptr<RYXASNCertificateContainer> c(m.getCACertificates(RYXASNx500Name(kCaDN)));
        EXPECT_TRUE(c != nullptr);
        return contents(c.get());
    }

    static LabSlapd* s_slapd;
    static labpki::Authority* s_ca;
    static Bytes* s_crl;
    Plugin m_plugin;
};

LabSlapd* ManagerNetnsTest::s_slapd = nullptr;
labpki::Authority* ManagerNetnsTest::s_ca = nullptr;
Bytes* ManagerNetnsTest::s_crl = nullptr;

// The URLs the client searched, from the entry records of its URL searches.
std::vector<Record> urlSearches(const TraceCapture& trace) {
    std::vector<Record> out;
    const std::string prefix = "LDAPClient::searchByURI(";
    for (const Record& r : trace.atLevel(RYX_TRACE_LEVEL_ENTRY)) {
        if (r.text.compare(0, prefix.size(), prefix) == 0) {
            out.push_back(r);
        }
    }
    return out;
}

Record urlSearch(const std::string& url) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ENTRY, "LDAPClient::searchByURI(" + url + " )"};
}

TEST_F(ManagerNetnsTest, HostlessUrlIsSearchedOnTheHostOfItsDcComponents) {
    std::unique_ptr<RYXDIRManager> m = makeManager(wrongPassword());
    for (const char* url : {kHostless, kCompleted}) {
        SCOPED_TRACE(url);
        TraceCapture trace;
        std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(url)));
        ASSERT_TRUE(crls);
        EXPECT_EQ(std::vector<Bytes>{*s_crl}, contents(crls.get()));
        EXPECT_EQ(std::vector<Record>{urlSearch(kCompleted)}, urlSearches(trace));
        // No bind: the wrong password is never tried.
        EXPECT_EQ(0u, trace.entries("login"));
    }
}

TEST_F(ManagerNetnsTest, SearchByNameAfterAUrlUsesItsConnectionWithoutABind) {
    std::unique_ptr<RYXDIRManager> m = makeManager(wrongPassword());
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(kHostless)));
    ASSERT_TRUE(crls);
    TraceCapture trace;
    EXPECT_EQ(std::vector<Bytes>{s_ca->certificateDER()}, caCertificates(*m));
    EXPECT_EQ(0u, trace.entries("login"));
    EXPECT_EQ(std::vector<Record>{}, trace.messagesWithout("Data Read Trace"));
    // Validation unbinds that connection; the next search logs in and is refused.
    EXPECT_TRUE(m->validateConnection());
    EXPECT_TRUE(
        throwsError<RYXDIRException>([&] { caCertificates(*m); }, ryxcode::kBadCredentials));
}

TEST_F(ManagerNetnsTest, UriHostOpensWithoutABind) {
    // "URI" as the host: the LDAP library gets no host (the default host on the
    // manager's port) and no bind is made.
    std::unique_ptr<RYXDIRManager> m = makeManager(wrongPassword("URI"));
    EXPECT_TRUE(m->validateConnection());
    EXPECT_EQ(std::vector<Bytes>{s_ca->certificateDER()}, caCertificates(*m));
    std::unique_ptr<RYXASNCRLContainer> crls(m->getViaURI(RYXString(kHostless)));
    ASSERT_TRUE(crls);
    EXPECT_EQ(std::vector<Bytes>{*s_crl}, contents(crls.get()));
    // Any other capitalisation is an ordinary host name, which does not resolve.
    std::unique_ptr<RYXDIRManager> other = makeManager(wrongPassword("Uri"));
    EXPECT_TRUE(
        throwsError<RYXDIRException>([&] { other->validateConnection(); }, ryxcode::kNoConnection));
}

}  // namespace
