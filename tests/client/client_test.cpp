// The client against the fake LDAP library, for what a real server cannot make
// (libraries that lack functions, failing calls, init agents, odd entries) or
// show (the exact C API arguments, what was handed out and given back).
#include <gtest/gtest.h>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "entrypairs.h"
#include "errorcodes.h"
#include "expectthrows.h"
#include "fakeldap_control.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"
#include "runprogram.h"
#include "ryxexception.h"
#include "tracecapture.h"

using namespace entrytest;
using namespace tracetest;

// The host-type log-in's password copy is watched as it is released: the first
// array delete of the block the fake last saw as the password keeps its bytes.
namespace {
const void* (*g_watched)() = nullptr;
size_t g_watchedLength = 0;
std::string g_released;
int g_arrayDeletes = 0;
}  // namespace

// Out of line, so that a memory checker that replaces the allocator sees
// both halves of every pair in this file as well.
__attribute__((noinline)) void* operator new[](size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
__attribute__((noinline)) void operator delete[](void* p) noexcept {
    ++g_arrayDeletes;
    if (p != nullptr && g_watched != nullptr && g_released.empty() && p == g_watched())
        g_released.assign(static_cast<const char*>(p), g_watchedLength);
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete[](p);
}

namespace {

class ClientFake : public ::testing::Test {
  protected:
    ClientFake() : m_fake(FAKELDAP_FULL) {}
    void TearDown() override {
        EXPECT_EQ(0, m_fake.fake_live_allocations());
        EXPECT_EQ(0, m_fake.fake_open_connections());
    }
    std::unique_ptr<LDAPClient> client(const char* host = "dir.example", int version = 3) {
        return std::make_unique<LDAPClient>(host, FAKELDAP_FULL, nullptr, 389, version);
    }
    std::unique_ptr<LDAPClient> connected() {
        std::unique_ptr<LDAPClient> c = client();
        c->login("cn=u", "pw");
        return c;
    }
    FakeLdap m_fake;
};

// An init agent whose results the test sets.
struct TestAgent : LDAPInitAgent {
    int result = 0, reason = 0, calls = 0;
    LDAP* handle = nullptr;
    int initAgent() override { return ++calls, result; }
    LDAP* getLdapHandle() override { return handle; }
    int getReasonCode(int which) override { return which == 0 ? reason : -1; }
};

TEST(ClientBinding, EachLibraryVariantLoadsOrFailsWithItsRecords) {
    const std::map<std::string, std::string> paths = {{"FULL", FAKELDAP_FULL},
                                                      {"NOURL", FAKELDAP_NOURL},
                                                      {"NOERRNO", FAKELDAP_NOERRNO},
                                                      {"NOCOUNT", FAKELDAP_NOCOUNT},
                                                      {"PREFIXED", FAKELDAP_PREFIXED}};
    for (const auto& c : spawntest::readCases(RYX_CLIENT_CASES "/libraries.tsv", paths)) {
        SCOPED_TRACE(c[0]);
        const std::string ctor = "LDAPClient(h , 389 , 2 )";
        const std::string load = "LDAPClient::connectDynamic(  Driver Path: " + c[0] + " )";
        std::vector<Record> expected = {entryRec(ctor), entryRec(load)};
        for (size_t i = 2; i < c.size(); ++i)
            expected.push_back(errorRec(c[i]));
        expected.insert(expected.end(), {exitRec(load), exitRec(ctor)});
        TraceCapture trace;
        std::unique_ptr<LDAPClient> client;
        const auto make = [&] {
            client = std::make_unique<LDAPClient>("h", c[0].c_str(), nullptr, 389, 2);
        };
        if (c[1] == "fails") {
            EXPECT_TRUE(throwsError<RYXDIRException>(make, ryxcode::kLibraryUnusable, ""));
        } else {
            make();
            EXPECT_TRUE(client->m_useDriverPath);
            EXPECT_EQ(c[0] != FAKELDAP_NOURL, client->m_ldap_url_parse != nullptr);
        }
        EXPECT_EQ(expected, trace.all());
    }
}

TEST(ClientBinding, EmptyDriverPathLoadsTheToolkitLibraryWithPrefixedNames) {
    // The library manager looks for ryx8ldap in RYX_LIBRARY_PATH first, where
    // the prefixed fake stands in for it.
    ::setenv("RYX_LIBRARY_PATH", FAKELDAP_PREFIXED_DIR, 1);
    FakeLdap fake(FAKELDAP_PREFIXED);
    TestAgent agent;
    {
        TraceCapture trace;
        LDAPClient client("h", "", &agent, 389, 3);
        // An agent without a driver library is dropped.
        EXPECT_EQ(std::vector<Record>{errorRec(
                      "InitAgent set but no driverPath specified ... initAgent is disabled")},
                  trace.atLevel(RYX_TRACE_LEVEL_ERROR));
        EXPECT_EQ(0, client.login("cn=u", "pw"));
        EXPECT_EQ(0, agent.calls);
        EXPECT_STREQ("h", fake.fake_last_init_host());
    }
    ::unsetenv("RYX_LIBRARY_PATH");
    EXPECT_EQ(0, fake.fake_open_connections());
}

TEST_F(ClientFake, RefusalsRaiseTheirCodeAndMessageAndLeaveNoConnection) {
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/refusals.tsv")) {
        SCOPED_TRACE(k[4]);
        m_fake.fake_reset();
        auto c = client();
        const int rc = std::stoi(k[1]);
        const bool search = k[0] == "ldap_search_st";
        if (search)
            c->login("cn=u", "pw");
        m_fake.fake_push_result(k[0].c_str(), rc);
        c->m_lastError = k[0] == "ldap_init" ? rc : 0;  // what the client last saw
        m_fake.fake_set_errno_override(k[2] != "-", k[2] != "-" ? std::stoi(k[2]) : 0);
        EXPECT_TRUE(throwsError<RYXDIRException>(
            [&] {
                if (search)
                    c->search("o=y", 0, "(cn=*)", nullptr, 0);
                c->login("cn=u,o=x", "pw");
            },
            std::stoi(k[3]), k[4]));
        EXPECT_EQ(search, c->m_ld != nullptr);
        EXPECT_EQ(rc, c->m_lastError);
    }
}

TEST_F(ClientFake, LoginSetsTheVersionAndBindsUnlessTheHostIsURI) {
    const std::pair<const char*, bool> cases[] = {
        {"URI", false}, {"uri", false}, {"Uri", true}, {"dir.example", true}};
    for (const auto& [host, bind] : cases) {
        SCOPED_TRACE(host);
        m_fake.fake_reset();
        auto c = client(host, 2);
        EXPECT_EQ(0, c->login("cn=u", "pw"));
        EXPECT_NE(nullptr, c->m_ld);
        EXPECT_STREQ(bind ? host : nullptr, m_fake.fake_last_init_host());
        EXPECT_EQ(2, m_fake.fake_last_protocol_version());
        EXPECT_EQ(bind ? 1 : 0, m_fake.fake_call_count("ldap_simple_bind_s"));
    }
    // Without a connection the error number is the last code: no call.
    auto c = client();
    c->m_lastError = 77;
    m_fake.fake_set_errno_override(1, 50);
    EXPECT_EQ(77, c->getErrno());
    // A driver's element goes with freebuf 0: its buffer is the entry's.
    c->berFree(nullptr);
    EXPECT_EQ(1, m_fake.fake_call_count("ldap_ber_free(0)"));
}

TEST_F(ClientFake, InitAgentOpensTheConnectionOnlyWithADriverLibrary) {
    // The agent hands over a connection of the fake's own.
    TestAgent agent;
    auto opener = client();
    ASSERT_TRUE(opener->init_client());
    std::swap(agent.handle, opener->m_ld);
    m_fake.fake_reset();
    {
        LDAPClient c("dir.example", FAKELDAP_FULL, &agent, 389, 3);
        TraceCapture trace;
        EXPECT_EQ(0, c.login("cn=u", "pw"));
        EXPECT_EQ(std::vector<Record>{errorRec("InitAgent beig used")},
                  trace.atLevel(RYX_TRACE_LEVEL_ERROR));
        EXPECT_EQ(agent.handle, c.m_ld);
        EXPECT_EQ(0, m_fake.fake_call_count("ldap_init"));
        EXPECT_EQ(1, m_fake.fake_call_count("ldap_simple_bind_s"));
        EXPECT_TRUE(c.init_client());  // already connected: nothing is called
        EXPECT_EQ(1, agent.calls);
    }

    agent.result = 7;
    agent.reason = 13;
    const std::string message =
        "Cannot operate agent (callback) connection to LDAP server:  dir.example:389.  "
        "initAgent () returned 7 and reason code 13";
    LDAPClient c("dir.example", FAKELDAP_FULL, &agent, 389, 3);
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { c.login("cn=u", "pw"); }, ryxcode::kNoConnection,
                                             message));
    TraceCapture trace;
    EXPECT_FALSE(c.init_client());
    EXPECT_EQ((std::vector<Record>{errorRec("InitAgent beig used"), errorRec(message)}),
              trace.atLevel(RYX_TRACE_LEVEL_ERROR));
    EXPECT_EQ(nullptr, c.m_ld);
}

// The copy of the host-type log-in holds only zeros when it is released, also
// when the bind throws. (That no trace holds the password is checked against
// the directory.)
// A memory checker that replaces the allocator bypasses the watch; the released
// bytes are then not checked (the plain and sanitizer runs do).
bool allocatorIsOurs() {
    const int before = g_arrayDeletes;
    char* volatile probe = new char[1];  // volatile: the pair may not be elided
    delete[] probe;
    return g_arrayDeletes != before;
}

TEST_F(ClientFake, PasswordCopyIsClearedBeforeItIsReleased) {
    if (!allocatorIsOurs())
        GTEST_SKIP() << "the allocator is not ours";
    const std::string secret = "s3cret-Passw0rd";
    g_watchedLength = secret.size();
    g_watched = m_fake.fake_last_bind_password_pointer;
    auto c = client();
    const RYXASNCBuffer password(reinterpret_cast<const unsigned char*>(secret.data()),
                                 static_cast<unsigned int>(secret.size()));
    for (int rc : {0, 49}) {
        SCOPED_TRACE(rc);
        g_released.clear();
        m_fake.fake_push_result("ldap_simple_bind_s", rc);
        try {
            c->login(RYXConstString("cn=u"), password);
        } catch (const RYXDIRException&) {
        }
        EXPECT_EQ(std::string(secret.size(), '\0'), g_released);
        c->logout(true);
    }
    g_watched = nullptr;
}

// An assignment of connection information clears the password it replaces
// before those bytes go back.
TEST(ConnectInfo, AssignmentClearsThePasswordItReplaces) {
    if (!allocatorIsOurs())
        GTEST_SKIP() << "the allocator is not ours";
    const auto info = [](const std::string& pw) {
        return RYXDIRConnectInfo::LDAP("h", 389, "cn=u",
                                       RYXBuffer(static_cast<unsigned int>(pw.size()),
                                                 reinterpret_cast<const unsigned char*>(pw.data())),
                                       1, 0, "", nullptr);
    };
    const std::string secret = "0ld-Passw0rd";
    RYXDIRConnectInfo::LDAP target = info(secret);
    const RYXDIRConnectInfo::LDAP other = info("new");
    static const void* s_old;
    s_old = target.password.getValue();
    g_watchedLength = secret.size();
    g_released.clear();
    g_watched = [] { return s_old; };
    target = other;
    g_watched = nullptr;
    EXPECT_EQ(std::string(secret.size(), '\0'), g_released);
}

TEST_F(ClientFake, SearchesPassTheirArgumentsAndNeedAConnection) {
    auto c = connected();
    EXPECT_EQ(0, c->search("o=x", 2, "(cn=*)", nullptr, 0));
    EXPECT_EQ(nullptr, m_fake.fake_last_search_timeout());  // no time limit of its own
    EXPECT_EQ(2, m_fake.fake_last_search_scope());
    // A URL without a host is searched on the host of its dc= components.
    EXPECT_EQ(0, c->searchByURI(RYXString("ldap:///cn=x,dc=example,dc=com"), 0));
    EXPECT_STREQ("ldap://example.com/cn=x,dc=example,dc=com", m_fake.fake_last_url());
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/dc-host.tsv"))
        EXPECT_EQ(k[1], c->convertDCtoHost(RYXString(k[0].c_str())).c_str()) << k[0];
    c->logout(true);
    TraceCapture trace;
    // Without a connection: the previous result is released all the same.
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { c->search("o=x", 0, "(cn=*)", nullptr, 0); },
                                             ryxcode::kNoConnection,
                                             "LDAP server dir.example did not bind"));
    EXPECT_TRUE(trace.all().empty());
    EXPECT_EQ(nullptr, c->m_result);
    EXPECT_EQ(0, m_fake.fake_live_allocations());
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->searchByURI(RYXString("ldap://h/o=x"), 0); }, ryxcode::kNoConnection,
        "Cannot search LDAP server by URI: no connection is open to ldap://h/o=x"));
    EXPECT_EQ(1, m_fake.fake_call_count("ldap_url_search_st"));
}

// Result sets walked through the fake where a server cannot go: no DN, an
// attribute named like the DN, attributes without values, an empty value, a
// count that disagrees with the chain.
TEST_F(ClientFake, ResultWalkFollowsTheChainAndGivesBackWhatItTook) {
    const auto add = [&](const char* attr, const std::string& bytes) {
        m_fake.fake_add_value(attr, bytes.data(), bytes.size());
    };
    m_fake.fake_add_entry("cn=c,o=x");
    add("DN", "other");  // joins the DN, after it
    add("seeAlso", "");
    m_fake.fake_add_entry(nullptr);
    add("cn", "a");
    m_fake.fake_add_attribute_without_values("member");
    add("sn", "b");
    m_fake.fake_add_entry("cn=b,o=x");
    auto c = connected();
    ASSERT_EQ(3, c->search("o=x", 2, "(objectClass=*)", nullptr, 0));
    const int withMessage = m_fake.fake_live_allocations();
    LDAPSearchResults results(*c);
    EXPECT_EQ(nullptr, c->m_entry);
    for (const char* entry :
         {"dn: cn=c,o=x | DN: other | seeAlso:", "cn: a | sn: b", "dn: cn=b,o=x"})
        EXPECT_EQ(pairsOfField(entry), pairsOf(*results.next()));
    // Names, values and elements went back; the message stays with the client.
    EXPECT_EQ(withMessage, m_fake.fake_live_allocations());

    // The count tells only whether the result is empty; the walk follows the chain.
    m_fake.fake_set_errno_override(1, 81);
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/counts.tsv")) {
        SCOPED_TRACE(k[0]);
        c->search("o=x", 2, "(objectClass=*)", nullptr, 0);
        m_fake.fake_set_count_override(1, std::stoi(k[0]));
        if (k[1] == "-")
            EXPECT_EQ(3u, LDAPSearchResults(*c).size());
        else
            EXPECT_TRUE(throwsError<RYXException>([&] { LDAPSearchResults results(*c); }, 0, k[1]));
    }
}

TEST(Entry, NamesIgnoreCaseAndValuesKeepTheirOrder) {
    LDAPEntry e;
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/entry.tsv")) {
        SCOPED_TRACE(k[0] + " " + k[1] + " " + k[2]);
        const char* value = k[2] == "NULL" ? nullptr : k[2].c_str();
        if (k[0] == "add")
            e.addAttribute(k[1].c_str(), value, std::stoi(k[3]));
        else
            EXPECT_EQ(k[3] == "1", e.removeAttribute(k[1].c_str(), value));
        EXPECT_EQ(std::stoul(k[4]), e.count(k[1].c_str()));
        const char* first = reinterpret_cast<const char*>(e.getAttributeValue(k[1].c_str()));
        EXPECT_EQ(k[5], k[5] == "-" ? "-" : first == nullptr ? "NULL" : first);
        EXPECT_EQ(pairsOfField(k[6]), pairsOf(e));
    }
}

TEST(Entry, PrintableTest) {
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/printable.tsv")) {
        const char* bytes = k[0] == "NULL" ? nullptr : k[0].c_str();
        EXPECT_EQ(k[2] == "1",
                  isPrintable(reinterpret_cast<const unsigned char*>(bytes), std::stoi(k[1])))
            << k[0] << " " << k[1];
    }
}

TEST_F(ClientFake, WritesSendEachAttributeAsOneModificationOrNothingWithoutADnOrConnection) {
    auto c = connected();
    for (const auto& k : spawntest::readCases(RYX_CLIENT_CASES "/writes.tsv")) {
        SCOPED_TRACE(k[2]);
        LDAPEntry e;
        addPairs(e, k[2]);
        const char* dn = k[1] == "-" ? nullptr : k[1].c_str();
        ASSERT_TRUE(k[0] == "add" ? c->addEntry(&e, dn) : c->modifyEntry(&e, dn));
        EXPECT_EQ(k[3], m_fake.fake_last_dn());
        EXPECT_EQ(k[4], m_fake.fake_last_mods());
    }
    LDAPEntry e;
    addPairs(e, "dn: cn=n,o=x | mail: m@x");
    std::ostringstream os;  // one modification as text
    os << *LdapModArray(&e, LDAP_MOD_ADD).get()[0];
    EXPECT_EQ(" Operation: 128\n Attribute: mail\n  (Len)Val: (3) m@x\n", os.str());

    // Nothing to send, or no connection: false, no call, the code stays.
    LDAPEntry noDn;
    addPairs(noDn, "cn: x");
    TraceCapture trace;
    EXPECT_FALSE(c->addEntry(&noDn, nullptr));
    EXPECT_EQ(LDAP_PARAM_ERROR, c->m_lastError);
    EXPECT_FALSE(c->modifyEntry(nullptr, "cn=x"));
    EXPECT_EQ(entryRec("LDAPClient::addEntry( null )"), trace.plugin().at(2));
    c->logout(true);
    m_fake.fake_reset();
    c->m_lastError = 42;
    for (const bool written : {c->addEntry(&noDn, "cn=x"), c->modifyEntry(&noDn, "cn=x"),
                               c->modifyRDN("cn=x", "cn=y", 1), c->deleteEntry(nullptr)})
        EXPECT_FALSE(written);
    const std::vector<Record> records = trace.plugin();
    EXPECT_EQ(traced("LDAPClient::deleteEntry( null )"),
              std::vector<Record>(records.end() - 2, records.end()));
    EXPECT_EQ(42, c->m_lastError);
    EXPECT_EQ(0, m_fake.fake_call_count(""));
}

}  // namespace
