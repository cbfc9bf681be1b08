// Retrieval of one large revocation list from a real slapd. The plug-in is
// driven the way the toolkit drives it (getCRLs by issuer name, getViaURI by
// URL) and timed side by side with the floor: the same search made directly
// with OpenLDAP and the value decoded with OpenSSL's d2i_X509_CRL. Prints each
// time and the plug-in's ratio to the floor, then the peak heap of one call of
// each path (when the program counts its heap, see heapcount.h).
//
//   RYX_BENCH_CRL_ENTRIES   revoked entries of the list (default 1000000)
#include <benchmark/benchmark.h>
#include <ldap.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "heapcount.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"

using namespace managerhost;

namespace {

const char* const kIssuerDN = "cn=Bench CA,dc=example,dc=com";
const char* const kAttribute = "certificateRevocationList";

size_t entriesWanted() {
    const char* text = std::getenv("RYX_BENCH_CRL_ENTRIES");
    if (text == nullptr || *text == '\0') {
        return 1000000;
    }
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (*end != '\0' || n == 0) {
        throw std::runtime_error(std::string("RYX_BENCH_CRL_ENTRIES is not a count: ") + text);
    }
    return static_cast<size_t>(n);
}

// A connection made directly with OpenLDAP, bound as the root DN.
class RawConnection {
  public:
    explicit RawConnection(const LabSlapd& slapd) {
        if (ldap_initialize(&m_ld, slapd.url().c_str()) != LDAP_SUCCESS) {
            throw std::runtime_error("ldap_initialize failed");
        }
        int version = LDAP_VERSION3;
        ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
        berval password;
        password.bv_val = const_cast<char*>(slapd.rootPassword().c_str());
        password.bv_len = slapd.rootPassword().size();
        const int rc = ldap_sasl_bind_s(m_ld, slapd.rootDN().c_str(), LDAP_SASL_SIMPLE, &password,
                                        nullptr, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            ldap_unbind_ext_s(m_ld, nullptr, nullptr);
            throw std::runtime_error(std::string("bind failed: ") + ldap_err2string(rc));
        }
    }
    ~RawConnection() { ldap_unbind_ext_s(m_ld, nullptr, nullptr); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Searches the issuer's entry for its lists and decodes every value; returns
    // the revoked entries of all lists found.
    long fetchRevoked() {
        char* attributes[] = {const_cast<char*>(kAttribute), nullptr};
        LDAPMessage* result = nullptr;
        const int rc =
            ldap_search_ext_s(m_ld, kIssuerDN, LDAP_SCOPE_BASE, "(certificateRevocationList=*)",
                              attributes, 0, nullptr, nullptr, nullptr, 0, &result);
        std::unique_ptr<LDAPMessage, int (*)(LDAPMessage*)> owned(result, ldap_msgfree);
        if (rc != LDAP_SUCCESS) {
            throw std::runtime_error(std::string("search failed: ") + ldap_err2string(rc));
        }
        long revoked = 0;
        for (LDAPMessage* e = ldap_first_entry(m_ld, result); e != nullptr;
             e = ldap_next_entry(m_ld, e)) {
            berval** values = ldap_get_values_len(m_ld, e, kAttribute);
            for (berval** v = values; v != nullptr && *v != nullptr; ++v) {
                const unsigned char* p = reinterpret_cast<const unsigned char*>((*v)->bv_val);
                X509_CRL* crl = d2i_X509_CRL(nullptr, &p, static_cast<long>((*v)->bv_len));
                if (crl == nullptr) {
                    ldap_value_free_len(values);
                    throw std::runtime_error("d2i_X509_CRL failed");
                }
                STACK_OF(X509_REVOKED)* list = X509_CRL_get_REVOKED(crl);
                revoked += list == nullptr ? 0 : sk_X509_REVOKED_num(list);
                X509_CRL_free(crl);
            }
            ldap_value_free_len(values);
        }
        return revoked;
    }

  private:
    LDAP* m_ld = nullptr;
};

long revokedIn(const RYXASNCRLContainer* container) {
    if (container == nullptr) {
        throw std::runtime_error("no container");
    }
    long revoked = 0;
    for (size_t i = 0; i < container->size(); ++i) {
        revoked += static_cast<const RYXASNCertificateList*>(container->at(i))->getRevokedCount();
    }
    return revoked;
}

// Prints as usual (in colour only on a terminal) and keeps the median wall
// time of every benchmark's repetitions.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                !run.error_occurred) {
                m_median[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double median(const std::string& name) const {
        auto it = m_median.find(name);
        return it == m_median.end() ? 0.0 : it->second;
    }

  private:
    std::map<std::string, double> m_median;
};

void check(const char* what, long revoked, size_t expected) {
    if (revoked != static_cast<long>(expected)) {
        throw std::runtime_error(std::string(what) + " found " + std::to_string(revoked) +
                                 " revoked entries, expected " + std::to_string(expected));
    }
}

int run(int argc, char** argv) {
    const size_t entries = entriesWanted();
    labpki::Authority ca = labpki::Authority::root(kIssuerDN);
    labpki::CrlOptions options;
    options.revokedCount = entries;
    const Bytes crl = ca.crl(options);
    std::printf("CRL: %zu revoked entries, %zu bytes of DER\n", entries, crl.size());

    LabSlapd slapd(LabSlapd::Schema::OctetString);
    slapd.start();
    slapd.addEntry(kIssuerDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                               {"cn", {"Bench CA"}},
                               {kAttribute, {bytes(crl)}}});

    Plugin plugin;
    Connection c;
    c.port = slapd.port();
    c.userDN = slapd.rootDN();
    c.password = slapd.rootPassword();
    std::unique_ptr<RYXDIRManager> manager = makeManager(c);
    if (!manager) {
        throw std::runtime_error("the plug-in gave no manager");
    }
    RawConnection raw(slapd);
    const RYXASNx500Name issuer(kIssuerDN);
    const RYXString url((slapd.url() + "/" + kIssuerDN + "?" + kAttribute).c_str());

    // Every path must find the whole list before it is timed. The manager's
    // client keeps the result of its last search until the next one.
    check("floor", raw.fetchRevoked(), entries);
    const size_t idle = heapcount::live();
    {
        std::unique_ptr<RYXASNCRLContainer> crls(manager->getCRLs(issuer));
        check("getCRLs", revokedIn(crls.get()), entries);
    }
    const size_t held = heapcount::live() > idle ? heapcount::live() - idle : 0;
    {
        std::unique_ptr<RYXASNCRLContainer> crls(manager->getViaURI(url));
        check("getViaURI", revokedIn(crls.get()), entries);
    }

    // Wall time (the server's work is in another process), repeated and
    // interleaved so that no path gains from running first or last.
    auto add = [](const char* name, std::function<void()> retrieve) {
        benchmark::RegisterBenchmark(name,
                                     [retrieve](benchmark::State& state) {
                                         for (auto _ : state) {
                                             retrieve();
                                         }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Repetitions(5);
    };
    const std::vector<std::pair<const char*, std::function<void()>>> paths = {
        {"floor_openldap_openssl", [&] { benchmark::DoNotOptimize(raw.fetchRevoked()); }},
        {"plugin_getCRLs",
         [&] {
             std::unique_ptr<RYXASNCRLContainer> crls(manager->getCRLs(issuer));
             benchmark::DoNotOptimize(crls.get());
         }},
        {"plugin_getViaURI",
         [&] {
             std::unique_ptr<RYXASNCRLContainer> crls(manager->getViaURI(url));
             benchmark::DoNotOptimize(crls.get());
         }},
    };
    for (const auto& path : paths) {
        add(path.first, path.second);
    }

    // Interleaving is on unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double floor = reporter.median("floor_openldap_openssl");
    if (floor > 0.0) {
        for (const char* name : {"plugin_getCRLs", "plugin_getViaURI"}) {
            const double t = reporter.median(name);
            if (t > 0.0) {
                std::printf("ratio %s / floor (medians): %.2f\n", name, t / floor);
            }
        }
    }

    // Peak heap of one call (the list and all the path allocates for it) above
    // the heap in use when the call starts.
    if (heapcount::active()) {
        const double mb = 1024.0 * 1024.0;
        const double size = static_cast<double>(crl.size());
        std::printf("peak heap of one call above its start (CRL: %.1f MB):\n", size / mb);
        for (const auto& path : paths) {
            const double peak = static_cast<double>(heapcount::peakDuring(path.second));
            std::printf("  %-24s %8.1f MB  %5.2fx the CRL\n", path.first, peak / mb, peak / size);
        }
        std::printf("the manager keeps its last search result between calls: %.1f MB (%.2fx)\n",
                    static_cast<double>(held) / mb, static_cast<double>(held) / size);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crl_bench: %s\n", e.what());
        return 1;
    }
}
