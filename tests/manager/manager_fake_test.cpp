// The manager against the fake LDAP library, for what slapd does not show: the
// C API arguments, retries on 81 and 91, codes slapd never sends, both value
// descriptions on one entry, no URL functions, every allocation released.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "errorcodes.h"
#include "fakeldap_control.h"
#include "labpki.h"
#include "ldapdirmanager.h"
#include "managerhost.h"
#include "runprogram.h"

using namespace managerhost;

namespace {

const char* const kSubject = "cn=Alice,o=Test,c=US";

struct Pki {
    labpki::Authority root = labpki::Authority::root("cn=Root CA,o=Test,c=US");
    Bytes alice = root.issue(kSubject, 11);
    Bytes crl1 = root.crl();
    Bytes crl2 = labpki::Authority::root("cn=Other CA,o=Test,c=US").crl();
    Bytes arl = root.arl();
};

const Pki& pki() {
    static const Pki p;
    return p;
}

class ManagerFake : public ::testing::Test {
  protected:
    ManagerFake() : m_fake(FAKELDAP_FULL) {}
    void TearDown() override { EXPECT_EQ(m_fake.fake_live_allocations(), 0); }

    static std::unique_ptr<LDAPDIRManager> manager(int errorMode,
                                                   const char* userDN = "cn=admin,o=Test",
                                                   const char* driver = FAKELDAP_FULL) {
        return std::make_unique<LDAPDIRManager>(
            Connection{"fakehost", 1389, userDN, "secret", 1, errorMode, driver}.info());
    }
    // A fresh directory of one entry holding these values.
    void directory(const char* dn, const std::vector<std::pair<const char*, Bytes>>& values) {
        m_fake.fake_reset();
        m_fake.fake_add_entry(dn);
        for (const auto& v : values) {
            m_fake.fake_add_value(v.first, v.second.data(), v.second.size());
        }
    }

    FakeLdap m_fake;
};

// Each retrieval by name: its filter, attributes and scope, on the subject as
// the host prints it and without a time limit (cases/fake-searches.tsv).
TEST_F(ManagerFake, EachRetrievalSearchesWithItsFilterAttributesAndScope) {
    auto m = manager(0);
    for (const auto& c : spawntest::readCases(RYX_MANAGER_CASES "/fake-searches.tsv")) {
        SCOPED_TRACE(c[0]);
        fetch(*m, c[0][0], kSubject);
        EXPECT_EQ(m_fake.fake_last_search_filter(), c[1]);
        EXPECT_EQ(m_fake.fake_last_search_attrs(), c[2]);
        EXPECT_EQ(m_fake.fake_last_search_scope(), std::stoi(c[3]));
        EXPECT_STREQ(m_fake.fake_last_search_base(), "CN=Alice,O=Test,C=US");
        EXPECT_EQ(m_fake.fake_last_search_timeout(), nullptr);
    }
    // One log-in with LDAP version 3 serves all four.
    EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), 1);
    EXPECT_EQ(m_fake.fake_last_protocol_version(), 3);

    // An empty user DN binds anonymously: no DN and no password reach the library.
    fetch(*manager(0, ""), 'r', kSubject);
    EXPECT_EQ(m_fake.fake_last_bind_dn(), nullptr);
    EXPECT_EQ(m_fake.fake_last_bind_password_pointer(), nullptr);
}

// Failed library calls: retried, thrown or an empty result by code and error
// mode (cases/fake-failures.tsv).
TEST_F(ManagerFake, FailedCallsByCodeAndErrorMode) {
    for (const auto& c : spawntest::readCases(RYX_MANAGER_CASES "/fake-failures.tsv")) {
        SCOPED_TRACE(c[0] + " " + c[1] + " x" + c[2] + " mode " + c[3]);
        directory(kSubject, {{"userCertificate", pki().alice}});
        auto m = manager(std::stoi(c[3]));
        for (int i = 0; i < std::stoi(c[2]); ++i) {
            m_fake.fake_push_result(c[0].c_str(), std::stoi(c[1]));
        }
        TraceCapture trace;
        if (c[4] == "values" || c[4] == "empty") {
            EXPECT_EQ(fetch(*m, 'u', kSubject),
                      c[4] == "values" ? std::vector<Bytes>{pki().alice} : std::vector<Bytes>{});
        } else {
            EXPECT_TRUE(throwsError<RYXDIRException>(
                [&] { fetch(*m, 'u', kSubject); }, std::stoi(c[4]),
                c[5].empty() ? std::nullopt : std::optional<std::string>(c[5])));
        }
        EXPECT_EQ(m_fake.fake_call_count("ldap_search_st"), std::stoi(c[6]));
        EXPECT_EQ(m_fake.fake_call_count("ldap_simple_bind_s"), std::stoi(c[7]));
        EXPECT_EQ(m_fake.fake_call_count("ldap_unbind"), std::stoi(c[8]));
        EXPECT_EQ(trace.messagesWithout("Data Read Trace"),
                  c[9].empty() ? std::vector<Record>{} : std::vector<Record>{errorRec(c[9])});
    }
    // Results the library cannot count fail whatever the mode, as no search error.
    directory(kSubject, {{"certificateRevocationList", pki().crl1}});
    m_fake.fake_set_count_override(1, -1);
    EXPECT_TRUE(throwsError<RYXException>([&] { fetch(*manager(2), 'r', kSubject); }, 0));
    m_fake.fake_set_count_override(0, 0);
}

// Values under the plain and the ";binary" description, in any letter case, on
// one entry: grouped by the retrieval's attribute order, values in server order.
TEST_F(ManagerFake, RevocationListsAreGroupedInTheOrderOfTheAttributeList) {
    directory("cn=Root CA,o=Test,c=US", {{"CERTIFICATEREVOCATIONLIST", pki().crl2},
                                         {"certificateRevocationList;binary", pki().crl1},
                                         {"authorityRevocationList;Binary", pki().arl},
                                         {"certificateRevocationList;binary", pki().crl2}});
    m_fake.fake_add_entry("cn=Other,o=Test,c=US");
    m_fake.fake_add_value("certificateRevocationList", pki().crl1.data(), pki().crl1.size());
    auto m = manager(0);
    const Pki& p = pki();
    EXPECT_EQ(fetch(*m, 'r', kSubject), (std::vector<Bytes>{p.crl1, p.crl2, p.crl2, p.crl1}));
    EXPECT_EQ(fetch(*m, 'a', kSubject),
              (std::vector<Bytes>{p.arl, p.crl1, p.crl2, p.crl2, p.crl1}));
}

TEST_F(ManagerFake, ByURLWithoutURLFunctionsInTheLibrary) {
    FakeLdap nourl(FAKELDAP_NOURL);
    const std::string url = "ldap://fakehost/o=Test";
    {
        auto m = manager(0, "cn=admin,o=Test", FAKELDAP_NOURL);
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { fetch(*m, 'l', url); },
                                                 ryxcode::kSearchFailed,
                                                 "searchByURI not supported by this client"));
        EXPECT_EQ(trace.messagesWithout("Data Read Trace"),
                  std::vector<Record>{errorRec("Error(0) from ldap_url_search_st().  Success")});
    }
    EXPECT_TRUE(fetch(*manager(2, "cn=admin,o=Test", FAKELDAP_NOURL), 'l', url).empty());
    EXPECT_EQ(nourl.fake_live_allocations(), 0);
}

}  // namespace
