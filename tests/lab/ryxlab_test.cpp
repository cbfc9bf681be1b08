// The ryxlab command run as a user runs it: a demo directory that outlives the
// command, holds a sample PKI that OpenSSL validates as described (Alice valid,
// Bob revoked, the CRL found at the URL in the certificates), and goes away on
// stop; refusals with their exit statuses; an interrupted start leaves nothing.
#include <gtest/gtest.h>
#include <ldap.h>
#include <openssl/x509v3.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "labpki.h"
#include "labsample.h"
#include "labslapd.h"
#include "runprogram.h"

namespace fs = std::filesystem;

namespace {

class RyxlabTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/ryxlabtest.XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        m_top = templ;
    }
    void TearDown() override {
        // Whatever a failed test left running goes.
        for (const auto& entry : fs::directory_iterator(m_top))
            if (entry.is_directory())
                LabSlapd::stopDetached(entry.path().string() + "/slapd");
        fs::remove_all(m_top);
    }

    spawntest::Result ryxlab(std::vector<std::string> args) {
        args.insert(args.begin(), RYXLAB_PATH);
        return spawntest::run(args, m_top);
    }

    std::string m_top;
};

// The values of "export NAME='value'" lines.
std::map<std::string, std::string> readEnv(const std::string& path) {
    std::map<std::string, std::string> vars;
    std::istringstream in(spawntest::readFile(path));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find("='");
        if (line.rfind("export ", 0) == 0 && eq != std::string::npos && line.back() == '\'')
            vars[line.substr(7, eq - 7)] = line.substr(eq + 2, line.size() - eq - 3);
    }
    return vars;
}

labpki::CertPtr readCertificate(const std::string& path) {
    return labpki::certificateFromDER(labpki::fromPEM(spawntest::readFile(path)));
}

// The values of one attribute of the entry an LDAP URL names (anonymous).
std::vector<std::string> urlValues(const std::string& url) {
    LDAPURLDesc* desc = nullptr;
    if (ldap_url_parse(url.c_str(), &desc) != LDAP_URL_SUCCESS)
        return {};
    std::unique_ptr<LDAPURLDesc, void (*)(LDAPURLDesc*)> descGuard(desc, ldap_free_urldesc);
    const std::string server = std::string(desc->lud_scheme) + "://" + desc->lud_host + ":" +
                               std::to_string(desc->lud_port);
    LDAP* ld = nullptr;
    if (ldap_initialize(&ld, server.c_str()) != LDAP_SUCCESS)
        return {};
    auto unbind = [](LDAP* l) { ldap_unbind_ext_s(l, nullptr, nullptr); };
    std::unique_ptr<LDAP, decltype(unbind)> ldGuard(ld, unbind);
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    timeval limit{10, 0};
    LDAPMessage* res = nullptr;
    const int rc = ldap_search_ext_s(ld, desc->lud_dn, LDAP_SCOPE_BASE, nullptr, desc->lud_attrs, 0,
                                     nullptr, nullptr, &limit, 0, &res);
    std::unique_ptr<LDAPMessage, int (*)(LDAPMessage*)> resGuard(res, ldap_msgfree);
    std::vector<std::string> values;
    LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(ld, res) : nullptr;
    if (entry == nullptr || desc->lud_attrs == nullptr)
        return values;
    berval** vals = ldap_get_values_len(ld, entry, desc->lud_attrs[0]);
    for (int i = 0; vals != nullptr && vals[i] != nullptr; ++i)
        values.emplace_back(vals[i]->bv_val, vals[i]->bv_len);
    ldap_value_free_len(vals);
    return values;
}

// True while pid names a process that has not exited.
bool running(pid_t pid) {
    const std::string stat = spawntest::readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

labpki::Bytes bytes(const std::string& s) {
    return labpki::Bytes(s.begin(), s.end());
}

// OpenSSL's verdict on a user certificate with every CRL check on.
int verdict(X509* root, X509* ca, X509_CRL* crl, X509_CRL* arl, X509* user) {
    std::unique_ptr<X509_STORE, void (*)(X509_STORE*)> store(X509_STORE_new(), X509_STORE_free);
    X509_STORE_add_cert(store.get(), root);
    X509_STORE_add_crl(store.get(), crl);
    X509_STORE_add_crl(store.get(), arl);
    X509_STORE_set_flags(store.get(), X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> chain(
        sk_X509_new_null(), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    sk_X509_push(chain.get(), ca);
    std::unique_ptr<X509_STORE_CTX, void (*)(X509_STORE_CTX*)> ctx(X509_STORE_CTX_new(),
                                                                   X509_STORE_CTX_free);
    X509_STORE_CTX_init(ctx.get(), store.get(), user, chain.get());
    return X509_verify_cert(ctx.get()) == 1 ? X509_V_OK : X509_STORE_CTX_get_error(ctx.get());
}

TEST_F(RyxlabTest, StartsASamplePkiThatOutlivesTheCommandAndStopsIt) {
    const std::string dir = m_top + "/lab";
    spawntest::Result started = ryxlab({"start", dir});
    ASSERT_EQ(started.status, 0) << started.err;
    EXPECT_EQ(started.err, "");
    EXPECT_NE(started.out.find("octet-string"), std::string::npos) << started.out;

    auto env = readEnv(dir + "/env");
    ASSERT_FALSE(env["RYX_LAB_PORT"].empty());
    EXPECT_EQ(env["RYX_LAB_OPTS"], "-H " + env["RYX_LAB_HOST"] + " -p " + env["RYX_LAB_PORT"]);
    EXPECT_NE(started.out.find("export RYX_LAB_URL='" + env["RYX_LAB_URL"] + "'"),
              std::string::npos);
    struct stat pw {};
    ASSERT_EQ(::stat((dir + "/admin.pw").c_str(), &pw), 0);
    EXPECT_EQ(pw.st_mode & 0777, 0600u);

    // The command has exited; its server answers.
    const pid_t pid = LabSlapd::detachedPid(dir + "/slapd");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(ryxlab({"status", dir}).status, 0);
    EXPECT_EQ(ryxlab({"start", dir}).status, 3) << "a second start on the same folder";

    labpki::CertPtr root = readCertificate(dir + "/root.pem");
    labpki::CertPtr alice = readCertificate(dir + "/alice.pem");
    labpki::CertPtr bob = readCertificate(dir + "/bob.pem");
    // The issuing CA from the directory, stored as "{ASN}" hex text.
    std::vector<std::string> caValues =
        urlValues(env["RYX_LAB_URL"] + "/" + labsample::urlEncodedDN(env["RYX_LAB_CA_DN"]) +
                  "?cACertificate");
    ASSERT_EQ(caValues.size(), 1u);
    ASSERT_EQ(caValues[0].rfind("{ASN}", 0), 0u);
    labpki::CertPtr ca = labpki::certificateFromDER(labpki::fromHex(caValues[0].substr(5)));
    // The CRL at the URL that Alice's certificate names, the ARL at the root.
    std::unique_ptr<CRL_DIST_POINTS, void (*)(CRL_DIST_POINTS*)> points(
        static_cast<CRL_DIST_POINTS*>(
            X509_get_ext_d2i(alice.get(), NID_crl_distribution_points, nullptr, nullptr)),
        CRL_DIST_POINTS_free);
    ASSERT_TRUE(points);
    const GENERAL_NAME* uri =
        sk_GENERAL_NAME_value(sk_DIST_POINT_value(points.get(), 0)->distpoint->name.fullname, 0);
    const std::string crlURL(
        reinterpret_cast<const char*>(ASN1_STRING_get0_data(uri->d.uniformResourceIdentifier)));
    EXPECT_EQ(crlURL, env["RYX_LAB_CRL_URL"]);
    EXPECT_EQ(crlURL.rfind(env["RYX_LAB_URL"] + "/", 0), 0u) << "names host and port";
    std::vector<std::string> crls = urlValues(crlURL);
    std::vector<std::string> arls =
        urlValues(env["RYX_LAB_URL"] + "/" + labsample::urlEncodedDN(env["RYX_LAB_ROOT_DN"]) +
                  "?authorityRevocationList");
    ASSERT_EQ(crls.size(), 1u);
    ASSERT_EQ(arls.size(), 1u);
    labpki::CrlPtr crl = labpki::crlFromDER(bytes(crls[0]));
    labpki::CrlPtr arl = labpki::crlFromDER(bytes(arls[0]));
    EXPECT_EQ(verdict(root.get(), ca.get(), crl.get(), arl.get(), alice.get()), X509_V_OK);
    EXPECT_EQ(verdict(root.get(), ca.get(), crl.get(), arl.get(), bob.get()),
              X509_V_ERR_CERT_REVOKED);

    spawntest::Result stopped = ryxlab({"stop", dir});
    EXPECT_EQ(stopped.status, 0) << stopped.err;
    EXPECT_FALSE(running(pid));
    EXPECT_FALSE(fs::exists(dir)) << "stop removes the folder that start created";
    EXPECT_EQ(ryxlab({"stop", dir}).status, 1);
    EXPECT_EQ(ryxlab({"status", dir}).status, 1);
}

TEST_F(RyxlabTest, RefusesWithOneLineAndAStatusLeavingNothing) {
    const std::string fresh = m_top + "/fresh";
    const std::string full = m_top + "/full";
    const std::string file = m_top + "/file";
    fs::create_directory(full);
    std::ofstream(full + "/mine") << "x";
    std::ofstream(file) << "x";
    // A port in use, by a throwaway slapd of this test.
    LabSlapd busy;
    busy.start();
    const std::string busyPort = std::to_string(busy.port());
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{}, 2},
        {{"frob", fresh}, 2},
        {{"start"}, 2},
        {{"start", "--port", "0", fresh}, 2},
        {{"start", "--port", "65536", fresh}, 2},
        {{"stop", fresh, "extra"}, 2},
        {{"start", full}, 3},
        {{"start", file}, 3},
        {{"stop", full}, 1},
        {{"status", fresh}, 1},
        {{"start", "--port", busyPort, fresh}, 4},
    };
    for (const Case& c : cases) {
        spawntest::Result r = ryxlab(c.args);
        const std::string label = ::testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << label << r.err;
        EXPECT_EQ(r.err.rfind("ryxlab: ", 0), 0u) << label << r.err;
        if (c.status != 2) {
            EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << label << "one line: " << r.err;
        }
        EXPECT_EQ(r.out, "") << label;
        EXPECT_FALSE(fs::exists(fresh)) << label;
        EXPECT_TRUE(fs::exists(full + "/mine")) << label;
    }
}

TEST_F(RyxlabTest, InterruptedStartLeavesNothingRunning) {
    // Signals at several points of a start (bounded: four starts).
    for (int delayMs : {0, 50, 150, 300}) {
        const std::string dir = m_top + "/int" + std::to_string(delayMs);
        const pid_t pid = spawntest::start({RYXLAB_PATH, "start", dir}, m_top);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        ::kill(pid, SIGINT);
        spawntest::Result r = spawntest::finish(pid, m_top);
        if (r.status == 0) {  // finished before the signal
            EXPECT_EQ(ryxlab({"stop", dir}).status, 0);
        } else {
            EXPECT_EQ(r.status, 128 + SIGINT) << delayMs << " ms: " << r.err;
        }
        EXPECT_LT(LabSlapd::detachedPid(dir + "/slapd"), 0) << delayMs << " ms";
        EXPECT_FALSE(fs::exists(dir)) << delayMs << " ms";
    }
}

}  // namespace
