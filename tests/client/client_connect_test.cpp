// The client against the fake LDAP library: binding the function table, log-in,
// init agents, the password copy, and searches.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "clienttestutil.h"
#include "errorcodes.h"
#include "fakeldap_control.h"
#include "ldapclient.h"
#include "ldapsearchresults.h"

using namespace clienttest;

// The host-type log-in's password copy is watched as it is released: every
// array delete of the program compares the block with the password pointer the
// fake saw and keeps the bytes it still holds.
namespace {
const void* (*g_passwordPointer)() = nullptr;
std::string* g_releasedPassword = nullptr;
size_t g_passwordLength = 0;
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
    if (p != nullptr && g_passwordPointer != nullptr && g_releasedPassword != nullptr &&
        g_releasedPassword->empty() && p == g_passwordPointer()) {
        g_releasedPassword->assign(static_cast<const char*>(p), g_passwordLength);
    }
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    operator delete[](p);
}

namespace {

const std::string kDriverPathName = "LDAPClient::connectDynamic(  Driver Path: ";

// The records of a construction that binds every function without trouble.
std::vector<Record> constructed(const std::string& host, const std::string& path, int version = 3) {
    const std::string ctor = "LDAPClient(" + host + " , 389 , " + std::to_string(version) + " )";
    const std::string bind = kDriverPathName + path + " )";
    return {entryRec(ctor), entryRec(bind), exitRec(bind), exitRec(ctor)};
}

class ClientFake : public ::testing::Test {
  protected:
    ClientFake() : m_fake(FAKELDAP_FULL) {}
    void TearDown() override {
        EXPECT_EQ(0, m_fake.fake_live_allocations());
        EXPECT_EQ(0, m_fake.fake_open_connections());
    }
    std::unique_ptr<LDAPClient> client(const char* host = "dir.example", int version = 3) {
        return std::unique_ptr<LDAPClient>(
            new LDAPClient(host, FAKELDAP_FULL, nullptr, 389, version));
    }
    FakeLdap m_fake;
};

// An init agent whose results the test sets.
class TestAgent : public LDAPInitAgent {
  public:
    int result = 0;
    int reason = 0;
    LDAP* handle = nullptr;
    int calls = 0;
    int initAgent() override {
        ++calls;
        return result;
    }
    LDAP* getLdapHandle() override { return handle; }
    int getReasonCode(int which) override { return which == 0 ? reason : -1; }
};

TEST(ClientBinding, EachLibraryVariantBindsOrFailsWithItsRecords) {
    struct Case {
        const char* path;
        std::vector<Record> errors;  // error records, in order
        bool fails;
    };
    const Case cases[] = {
        {FAKELDAP_FULL, {}, false},
        {FAKELDAP_NOURL, {}, false},
        {FAKELDAP_NOERRNO,
         {errorRec("Warning: ldap_ber_free not defined in library - Window implementation?"),
          errorRec("Warning: ldap_get_errno not defined in library - Window implementation?")},
         false},
        {FAKELDAP_NOCOUNT, {errorRec("ldap_count_entries  symbol not defined in library")}, true},
        {"/nonexistent/libnothing.so",
         {errorRec("Failed to open LDAP shared library client")},
         true},
        // The prefixed library exports only ryx_ names: loaded by path, the
        // bare names are looked up and the first one is already missing.
        {FAKELDAP_PREFIXED, {errorRec("ldap_init symbol not defined in library")}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        TraceCapture trace;
        std::unique_ptr<LDAPClient> client;
        try {
            client.reset(new LDAPClient("h", c.path, nullptr, 389, 3));
            EXPECT_FALSE(c.fails);
        } catch (const RYXDIRException& e) {
            EXPECT_TRUE(c.fails);
            EXPECT_EQ(ryxcode::kLibraryUnusable, e.getError());
            EXPECT_STREQ("", e.getMessage().c_str());
        }
        EXPECT_EQ(c.errors, trace.atLevel(RYX_TRACE_LEVEL_ERROR));
        if (client) {
            EXPECT_TRUE(client->m_useDriverPath);
            EXPECT_NE(nullptr, client->m_libHandle);
            EXPECT_NE(nullptr, client->m_ldap_value_free_len);
            const bool url = std::strcmp(c.path, FAKELDAP_NOURL) != 0;
            EXPECT_EQ(url, client->m_ldap_url_search_st != nullptr);
            EXPECT_EQ(url, client->m_ldap_url_parse != nullptr);
            EXPECT_EQ(url, client->m_ldap_free_urldesc != nullptr);
            const bool errno_ = std::strcmp(c.path, FAKELDAP_NOERRNO) != 0;
            EXPECT_EQ(errno_, client->m_ldap_get_errno != nullptr);
            EXPECT_EQ(errno_, client->m_ldap_ber_free != nullptr);
        }
    }
}

TEST(ClientBinding, CleanConstructionWritesOnlyItsEntryAndExitRecords) {
    TraceCapture trace;
    { LDAPClient client("h", FAKELDAP_NOURL, nullptr, 389, 2); }
    std::vector<Record> expected = constructed("h", FAKELDAP_NOURL, 2);
    expected.push_back(entryRec("~LDAPClient()"));
    expected.push_back(entryRec("LDAPClient::logout()"));
    expected.push_back(exitRec("LDAPClient::logout()"));
    expected.push_back(exitRec("~LDAPClient()"));
    EXPECT_EQ(expected, trace.all());
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
        EXPECT_EQ(nullptr, client.m_initAgent);
        EXPECT_FALSE(client.m_useDriverPath);
        EXPECT_EQ(0, client.login("cn=u", "pw"));
        EXPECT_EQ(0, agent.calls);
        EXPECT_EQ(1, fake.fake_call_count("ldap_init"));
        EXPECT_STREQ("h", fake.fake_last_init_host());
    }
    ::unsetenv("RYX_LIBRARY_PATH");
    EXPECT_EQ(0, fake.fake_open_connections());
}

TEST_F(ClientFake, GetErrnoAndBerFreeFallBackWhenTheLibraryLacksThem) {
    auto full = client();
    full->m_lastError = 77;
    m_fake.fake_set_errno_override(1, 50);
    EXPECT_EQ(77, full->getErrno());  // no connection: no call
    full->login("cn=u", "pw");
    EXPECT_EQ(50, full->getErrno());
    m_fake.fake_set_errno_override(0, 0);

    FakeLdap noErrno(FAKELDAP_NOERRNO);
    {
        LDAPClient client("h", FAKELDAP_NOERRNO, nullptr, 389, 3);
        client.login("cn=u", "pw");
        client.m_lastError = 61;
        EXPECT_EQ(61, client.getErrno());
        client.berFree(nullptr);  // nothing to call
        EXPECT_EQ(0, noErrno.fake_call_count("ldap_get_errno"));
    }
    EXPECT_EQ(0, noErrno.fake_open_connections());
}

TEST_F(ClientFake, RefusedBindsRaiseByCodeAndLeaveNoConnection) {
    const struct {
        int rc;
        int code;
        const char* text;
    } cases[] = {{32, ryxcode::kBadCredentials, "No such object"},
                 {49, ryxcode::kBadCredentials, "Invalid credentials"},
                 {50, ryxcode::kNoConnection, "Insufficient access"}};
    auto c = client();
    for (const auto& k : cases) {
        m_fake.fake_push_result("ldap_simple_bind_s", k.rc);
        EXPECT_TRUE(
            throwsError<RYXDIRException>([&] { c->login("cn=u,o=x", "pw"); }, k.code,
                                         "Cannot bind to LDAP server, dir.example userDN=cn=u,o=x "
                                         "ldap_simple_bind() rc=" +
                                             std::to_string(k.rc) + ". " + k.text));
        EXPECT_EQ(nullptr, c->m_ld);
        EXPECT_EQ(k.rc, c->m_lastError);
        EXPECT_EQ(0, m_fake.fake_open_connections());
    }
}

TEST_F(ClientFake, LoginOpensSetsTheVersionAndBindsUnlessTheHostIsURI) {
    const struct {
        const char* host;
        bool bind;
    } cases[] = {{"URI", false}, {"uri", false}, {"Uri", true}, {"dir.example", true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.host);
        m_fake.fake_reset();
        auto c = client(k.host, 2);
        EXPECT_EQ(0, c->login("cn=u", "pw"));
        EXPECT_NE(nullptr, c->m_ld);
        if (k.bind)
            EXPECT_STREQ(k.host, m_fake.fake_last_init_host());
        else
            EXPECT_EQ(nullptr, m_fake.fake_last_init_host());
        EXPECT_EQ(389, m_fake.fake_last_init_port());
        EXPECT_EQ(2, m_fake.fake_last_protocol_version());
        EXPECT_EQ(k.bind ? 1 : 0, m_fake.fake_call_count("ldap_simple_bind_s"));
    }
}

TEST_F(ClientFake, AnonymousLoginAndAFailingInit) {
    auto c = client();
    {
        TraceCapture trace;
        EXPECT_EQ(0, c->login(nullptr, nullptr));
        EXPECT_EQ(entryRec("LDAPClient::login()"), trace.all().front());
    }
    EXPECT_EQ(nullptr, m_fake.fake_last_bind_dn());
    unsigned char buf[8];
    EXPECT_EQ(-1, m_fake.fake_last_bind_password(buf, sizeof buf));
    c->logout(true);

    m_fake.fake_set_init_fails(1);
    c->m_lastError = 81;
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->login("cn=u", "pw"); }, ryxcode::kNoConnection,
        "Cannot open connection to LDAP server:  dir.example:389.  ldap_init() "
        "returned Can't contact LDAP server"));
    m_fake.fake_set_init_fails(0);
    EXPECT_EQ(nullptr, c->m_ld);
}

TEST_F(ClientFake, InitAgentOpensTheConnectionOnlyWithADriverLibrary) {
    // The agent hands over a connection of the fake's own.
    void* lib = dlopen(FAKELDAP_FULL, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, lib);
    auto* open = reinterpret_cast<LDAP* (*)(const char*, int)>(dlsym(lib, "ldap_init"));
    dlclose(lib);  // m_fake keeps it loaded
    ASSERT_NE(nullptr, open);
    TestAgent agent;
    agent.handle = open("agent", 1);
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
        // Already connected: nothing is called.
        EXPECT_TRUE(c.init_client());
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

TEST_F(ClientFake, InitClientOpensWithoutHostVersionOrBind) {
    auto c = client();
    EXPECT_TRUE(c->init_client());
    EXPECT_EQ(nullptr, m_fake.fake_last_init_host());
    EXPECT_EQ(389, m_fake.fake_last_init_port());
    EXPECT_EQ(-1, m_fake.fake_last_protocol_version());
    EXPECT_EQ(0, m_fake.fake_call_count("ldap_simple_bind_s"));
    EXPECT_TRUE(c->init_client());
    EXPECT_EQ(1, m_fake.fake_call_count("ldap_init"));
    // Dropped without an unbind: nothing is called, the code stays.
    LDAP* ld = c->m_ld;
    c->m_lastError = 5;
    c->logout(false);
    EXPECT_EQ(nullptr, c->m_ld);
    EXPECT_EQ(0, m_fake.fake_call_count("ldap_unbind"));
    EXPECT_EQ(5, c->m_lastError);
    c->m_ld = ld;  // so that the destructor unbinds it
}

TEST_F(ClientFake, PasswordCopyIsClearedAndNeverTraced) {
    // A memory checker that replaces the allocator bypasses the watch; the
    // released bytes are then not checked (the plain and sanitizer runs do).
    const int before = g_arrayDeletes;
    char* volatile probe = new char[1];  // volatile: the pair may not be elided
    delete[] probe;
    const bool watching = g_arrayDeletes != before;
    const std::string secret = "s3cret-Passw0rd";
    g_passwordPointer = m_fake.fake_last_bind_password_pointer;
    g_passwordLength = secret.size();
    std::string released;
    g_releasedPassword = &released;
    auto c = client();
    const RYXASNCBuffer password(reinterpret_cast<const unsigned char*>(secret.data()),
                                 static_cast<unsigned int>(secret.size()));
    for (int rc : {0, 49}) {
        SCOPED_TRACE(rc);
        released.clear();
        m_fake.fake_push_result("ldap_simple_bind_s", rc);
        TraceCapture trace;
        try {
            c->login(RYXConstString("cn=u"), password);
            EXPECT_EQ(0, rc);
        } catch (const RYXDIRException& e) {
            EXPECT_EQ(ryxcode::kBadCredentials, e.getError());
            EXPECT_EQ(std::string::npos, std::string(e.getMessage().c_str()).find(secret));
        }
        // The library saw the password, NUL-terminated ...
        unsigned char seen[64] = {};
        ASSERT_EQ(static_cast<int>(secret.size()),
                  m_fake.fake_last_bind_password(seen, sizeof seen));
        EXPECT_EQ(secret, std::string(reinterpret_cast<char*>(seen), secret.size()));
        // ... and the copy held only zeros when it was released.
        if (watching) {
            EXPECT_EQ(std::string(secret.size(), '\0'), released);
        }
        for (const Record& r : trace.all())
            EXPECT_EQ(std::string::npos, r.text.find(secret)) << r;
        c->logout(true);
    }
    g_releasedPassword = nullptr;
    g_passwordPointer = nullptr;
}

TEST_F(ClientFake, SearchNeedsAConnectionAndReportsFailures) {
    m_fake.fake_add_entry("cn=a,o=x");
    m_fake.fake_add_value("cn", "a", 1);
    auto c = client();
    c->login("cn=u", "pw");
    {
        TraceCapture trace;
        EXPECT_EQ(1, c->search("o=x", 2, "(cn=*)", nullptr, 0));
        const std::string name = "LDAPClient::search( -b o=x  (cn=*) )";
        EXPECT_EQ((std::vector<Record>{entryRec(name), exitRec(name)}), trace.all());
    }
    EXPECT_EQ(nullptr, m_fake.fake_last_search_timeout());
    EXPECT_EQ(2, m_fake.fake_last_search_scope());

    // Without a connection: the old result goes, nothing is traced.
    LDAP* ld = c->m_ld;
    c->m_ld = nullptr;
    {
        TraceCapture trace;
        EXPECT_TRUE(throwsError<RYXDIRException>([&] { c->search("o=x", 0, "(cn=*)", nullptr, 0); },
                                                 ryxcode::kNoConnection,
                                                 "LDAP server dir.example did not bind"));
        EXPECT_TRUE(trace.all().empty());
    }
    EXPECT_EQ(nullptr, c->m_result);
    EXPECT_EQ(0, m_fake.fake_live_allocations());
    c->m_ld = ld;

    m_fake.fake_push_result("ldap_search_st", 32);
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->search("o=y", 0, "(cn=*)", nullptr, 0); }, ryxcode::kSearchFailed,
        "Error searching LDAP server. ldap_search_st() rc=32. No such object"));
    EXPECT_EQ(32, c->m_lastError);
    // The connection's own error number names the text when there is one.
    m_fake.fake_set_errno_override(1, 50);
    m_fake.fake_push_result("ldap_search_st", 1);
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->search("o=y", 0, "(cn=*)", nullptr, 0); }, ryxcode::kSearchFailed,
        "Error searching LDAP server. ldap_search_st() rc=1. Insufficient access"));
    m_fake.fake_set_errno_override(0, 0);
}

TEST_F(ClientFake, SearchByURICompletesAHostlessURL) {
    auto c = client();
    ASSERT_TRUE(c->init_client());
    const struct {
        const char* url;
        const char* searched;
    } cases[] = {
        {"ldap://h:389/cn=x,dc=example,dc=com?cn", "ldap://h:389/cn=x,dc=example,dc=com?cn"},
        {"ldap:///cn=x,dc=example,dc=com", "ldap://example.com/cn=x,dc=example,dc=com"},
    };
    for (const auto& k : cases) {
        TraceCapture trace;
        EXPECT_EQ(0, c->searchByURI(RYXString(k.url), 0));
        EXPECT_STREQ(k.searched, m_fake.fake_last_url());
        std::vector<Record> expected;
        if (std::strcmp(k.url, k.searched) != 0)
            expected = {entryRec("convertDCtoHost"), exitRec("convertDCtoHost")};
        const std::string name = std::string("LDAPClient::searchByURI(") + k.searched + " )";
        expected.push_back(entryRec(name));
        expected.push_back(exitRec(name));
        EXPECT_EQ(expected, trace.all());
    }
    m_fake.fake_push_result("ldap_url_search_st", 32);
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->searchByURI(RYXString("ldap://h/o=x"), 0); }, ryxcode::kSearchFailed,
        "Error searching LDAP server by URI. ldap_url_search_st() rc=32. No such "
        "object"));
    c->logout(true);
    EXPECT_TRUE(throwsError<RYXDIRException>(
        [&] { c->searchByURI(RYXString("ldap://h/o=x"), 0); }, ryxcode::kNoConnection,
        "Cannot search LDAP server by URI: no connection is open to ldap://h/o=x"));
}

TEST(ClientNoUrl, SearchByURIIsNotSupportedBeforeAnyRecord) {
    FakeLdap fake(FAKELDAP_NOURL);
    LDAPClient c("h", FAKELDAP_NOURL, nullptr, 389, 3);
    ASSERT_TRUE(c.init_client());
    TraceCapture trace;
    EXPECT_TRUE(throwsError<RYXDIRException>([&] { c.searchByURI(RYXString("ldap:///dc=a"), 0); },
                                             ryxcode::kSearchFailed,
                                             "searchByURI not supported by this client"));
    EXPECT_TRUE(trace.all().empty());
}

TEST_F(ClientFake, ResultWalkStoresTextWithItsNulAndBinaryAsIs) {
    m_fake.fake_add_entry("cn=a,o=x");
    m_fake.fake_add_value("description", "hello", 5);
    m_fake.fake_add_value("userCertificate", "\x30\x03\x01\x00\xff", 5);
    m_fake.fake_add_value("seeAlso", "", 0);
    auto c = client();
    c->login("cn=u", "pw");
    ASSERT_EQ(1, c->search("o=x", 0, "(objectClass=*)", nullptr, 0));
    LDAPSearchResults results(*c);
    LDAPEntry* e = results.next();
    ASSERT_NE(nullptr, e);
    const auto length = [&](const char* name) { return e->find(name)->second->getLength(); };
    EXPECT_EQ(6u, length("description"));
    EXPECT_EQ(5u, length("userCertificate"));
    EXPECT_EQ(1u, length("seeAlso"));
    EXPECT_EQ(0, e->find("seeAlso")->second->getValue()[0]);
    EXPECT_STREQ("cn=a,o=x", reinterpret_cast<const char*>(e->getAttributeValue("dn")));
    results.erase();
}

}  // namespace
