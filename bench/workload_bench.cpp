// The workloads of the directory plug-in, each path timed side by side with
// the floor and the peers in one run, repeated and interleaved:
//
//   W1  one large revocation list: getCRLs in process, ryxdir crl per process;
//       floor: OpenLDAP search + d2i_X509_CRL; peers: ldapsearch -t + openssl
//       crl, curl + openssl crl, the JDK's LDAP CertStore (per process, warm)
//   W2  CA-certificate lookups: one manager in process, ryxdir --batch, ryxdir
//       ca per process; floor: OpenLDAP search + d2i_X509 in a loop; peers:
//       ldapsearch per process, the JDK's CertStore (warm)
//   W3  getViaURI of a small list: in process; floor: URL parse + search +
//       d2i_X509_CRL; peer: curl per process
//   W4  manager create, validateConnection, destroy; floor: init, bind, unbind
//   V1  validation of many end-entity certificates of one CA (a list of 10
//       entries): the library in process (one validator), ryxdir verify
//       --batch, ryxdir verify per process; floor: the same objects as files,
//       X509_verify_cert in a loop and one openssl verify -crl_check_all;
//       peer: the JDK's PKIX validator with its LDAP CertStore (warm)
//   V2  V1 with a list of RYX_BENCH_CRL_ENTRIES entries more; the floors,
//       the JDK and the process per leaf validate RYX_BENCH_V2_SAMPLE
//       certificates, scaled to all
//   V3  one ryxdir verify of V2's CA: cold (an empty --cache folder) and warm
//       (a --cache folder filled by an earlier run); floor: openssl verify
//
// Two directories hold the same data: slapd's stock schema (";binary"
// attributes) and the octet-string schema. In-process paths and their floor run
// on both; ryxdir and the command-line peers on the octet-string one, the JDK
// (which asks for ";binary" only) on the stock one. Peers that are not
// installed, and paths that fail their check, are listed as skipped. Prints
// Google Benchmark's report, then one table of medians, ratios to the floor and
// peak memory (a process's peak resident set, by GNU time when installed; in
// process, the peak heap of one run above its start), then the ratios the goals
// are stated in. Memory is measured in runs of its own, after the timed ones.
// Nothing here asserts on a time.
//
//   RYX_BENCH_CRL_ENTRIES   revoked entries of W1's and V2's list (default 1000000)
//   RYX_BENCH_LOOKUPS       lookups of W2 and W3, managers of W4, certificates
//                           of V1 and V2 (default 1000)
//   RYX_BENCH_V2_SAMPLE     certificates V2's floors, JDK pass and processes
//                           validate, their time scaled (default 10, at least 2)
//   RYX_BENCH_PROCESSES     processes a run of a one-process-per-lookup path
//                           starts (default 100); its time is scaled to the
//                           lookups
//   RYX_BENCH_REPETITIONS   runs of each path (default 5)
//   RYX_BENCH_WORKLOADS     the workloads to run, e.g. "W1,V3" (default all)
//   RYX_BENCH_ONLY          a regular expression: only the paths whose name
//                           ("W2/one manager/stock") it finds something in
//   RYX_BENCH_RYXDIR        the ryxdir to run (default the one built with this)
//   RYX_BENCH_JAVA_CLASSES  folder of the compiled CertStoreBench (JDK peer)
//   RYX_BENCH_SUMMARY       also write the table (markdown) to this file
//   RYX_BENCH_GOALS         write the goal ratios, "name value" a line, here
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchfloor.h"
#include "benchproc.h"
#include "heapcount.h"
#include "labpki.h"
#include "labslapd.h"
#include "managerhost.h"
#include "ryxpkix.h"

namespace {

using benchfloor::Kind;
using Clock = std::chrono::steady_clock;

const char* const kBigIssuer = "cn=Bench CA,dc=example,dc=com";
const char* const kSmallIssuer = "cn=Small CA,dc=example,dc=com";
const char* const kCaFolder = "ou=CAs,dc=example,dc=com";
const size_t kSmallRevoked = 10;
const char* const kValidationRoot = "cn=V Root,dc=example,dc=com";
const std::uint64_t kFirstLeafSerial = 10000000000ULL;
// Leaves 0, 100, ..., 900 are revoked: 10 entries, however many leaves there are.
const size_t kRevokedStride = 100;
const size_t kRevokedLeaves = 10;

bool revokedLeaf(size_t i) {
    return i % kRevokedStride == 0 && i / kRevokedStride < kRevokedLeaves;
}

// Revoked leaves among the first n.
long revokedAmong(size_t n) {
    return static_cast<long>(std::min(kRevokedLeaves, (n + kRevokedStride - 1) / kRevokedStride));
}

size_t count(const char* name, size_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long long n = std::strtoull(text, &end, 10);
    if (*end != '\0' || n == 0) {
        throw std::runtime_error(std::string(name) + " is not a count: " + text);
    }
    return static_cast<size_t>(n);
}

std::string setting(const char* name, const std::string& fallback = std::string()) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? text : fallback;
}

std::string caName(size_t i) {
    return "cn=CA " + std::to_string(i) + "," + kCaFolder;
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// One directory of the run, started and loaded by the lab.
struct Server {
    LabSlapd slapd;
    bool stock;
    std::string schema;

    explicit Server(bool stockSchema)
        : slapd(stockSchema ? LabSlapd::Schema::Stock : LabSlapd::Schema::OctetString),
          stock(stockSchema),
          schema(stockSchema ? "stock" : "octet-string") {}
    // The description a value is stored and asked for under.
    std::string attribute(const char* name) const {
        return stock ? std::string(name) + ";binary" : name;
    }
    std::string url() const { return slapd.url(); }
    std::string port() const { return std::to_string(slapd.port()); }
    std::string smallListUrl() const {
        return url() + "/cn=Small%20CA,dc=example,dc=com?" + attribute("certificateRevocationList");
    }
    std::string bigListUrl() const {
        return url() + "/cn=Bench%20CA,dc=example,dc=com?" + attribute("certificateRevocationList");
    }
};

// A folder of the run's files, removed with everything in it on every way out.
struct TemporaryFolder {
    std::string path;
    TemporaryFolder() {
        char name[] = "/tmp/ryx-bench-XXXXXX";
        if (::mkdtemp(name) == nullptr) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path = name;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
};

// The certificates and files of one validation workload: a CA under the
// validation root, its list, and leaves issued by it.
struct ValidationSet {
    std::string workload;
    std::string caDN;
    labpki::Bytes caCertificate;
    labpki::Bytes list;
    std::vector<labpki::CertPtr> leaves;
    std::vector<X509*> leafPointers;
    std::vector<std::string> leafFiles;
    std::string leafNames;  // file of the leaves' file names, one a line
    size_t sample;          // leaves the slow paths validate, their time scaled
    std::string sampleNames;
    std::string caPem;    // the CA certificate, untrusted
    std::string crlsPem;  // the CA's list and the root's authority list
};

// What the workloads run on.
struct Data {
    size_t crlEntries;
    size_t lookups;
    size_t processes;  // of a one-process-per-lookup path, at most lookups
    labpki::Bytes bigList;
    std::string folder;  // files of the run: names, ldapsearch's values
    std::string caNames;
    std::string bigIssuerName;
    size_t v2Sample;
    labpki::CertPtr validationRoot;
    labpki::Bytes rootList;
    std::string rootPem;
    std::vector<std::unique_ptr<ValidationSet>> validations;
    const ValidationSet* set(const std::string& workload) const {
        for (const auto& v : validations) {
            if (v->workload == workload) {
                return v.get();
            }
        }
        return nullptr;
    }
};

void load(Server& server, const Data& data, const labpki::Authority& ca,
          const std::vector<labpki::Bytes>& caCertificates, const labpki::Bytes& smallList) {
    using managerhost::bytes;
    server.slapd.start();
    const std::string cert = server.attribute("cACertificate");
    const std::string list = server.attribute("certificateRevocationList");
    server.slapd.addEntry(kBigIssuer, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                       {"cn", {"Bench CA"}},
                                       {cert, {bytes(ca.certificateDER())}},
                                       {list, {bytes(data.bigList)}}});
    server.slapd.addEntry(kSmallIssuer, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                         {"cn", {"Small CA"}},
                                         {list, {bytes(smallList)}}});
    server.slapd.addEntry(kCaFolder, {{"objectClass", {"organizationalUnit"}}, {"ou", {"CAs"}}});
    for (size_t i = 0; i < caCertificates.size(); ++i) {
        server.slapd.addEntry(caName(i), {{"objectClass", {"applicationProcess", "pkiCA"}},
                                          {"cn", {"CA " + std::to_string(i)}},
                                          {cert, {bytes(caCertificates[i])}}});
    }
    if (data.validations.empty()) {
        return;
    }
    server.slapd.addEntry(kValidationRoot,
                          {{"objectClass", {"applicationProcess", "pkiCA"}},
                           {"cn", {"V Root"}},
                           {server.attribute("authorityRevocationList"), {bytes(data.rootList)}}});
    for (const auto& v : data.validations) {
        server.slapd.addEntry(v->caDN, {{"objectClass", {"applicationProcess", "pkiCA"}},
                                        {"cn", {v->workload + " CA"}},
                                        {cert, {bytes(v->caCertificate)}},
                                        {list, {bytes(v->list)}}});
    }
}

enum class Role { Ours, Floor, Peer };

// One way of doing a workload. run() does it once and returns its time in
// seconds; a process path run with measuringMemory keeps the peak resident set
// of its processes instead (the run that measures it is not timed).
struct Path {
    std::string workload;
    std::string name;
    std::string schema;
    Role role;
    bool inProcess;
    std::function<double(Path&)> run;
    std::string skipped;  // why it does not run; empty: it runs
    // Before an in-process path's memory is measured: its manager's last
    // search (which the manager keeps until the next) made a small one, so
    // that every path starts alike.
    std::function<void()> settle;
    std::vector<double> samples;
    bool measuringMemory = false;
    long maxRssKiB = -1;
    double heapBytes = -1;  // peak heap of one run above its start (in process)

    std::string id() const { return workload + "/" + name + (schema.empty() ? "" : "/" + schema); }
    double median() const {
        if (samples.empty()) {
            return 0;
        }
        std::vector<double> s = samples;
        std::sort(s.begin(), s.end());
        return s.size() % 2 == 1 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    }
};

// Runs commands one after the other, as one sample: their total time, their
// highest peak resident set.
double runAll(Path& path, std::vector<benchproc::Command> commands) {
    double total = 0;
    for (benchproc::Command& c : commands) {
        c.measureMemory = path.measuringMemory;
        const benchproc::Outcome o = benchproc::run(c);
        total += o.seconds;
        path.maxRssKiB = std::max(path.maxRssKiB, o.maxRssKiB);
    }
    return total;
}

benchproc::Command command(std::vector<std::string> argv, std::string stdinPath = "/dev/null") {
    benchproc::Command c;
    c.argv = std::move(argv);
    c.stdinPath = std::move(stdinPath);
    return c;
}

std::string shellQuoted(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

void check(const std::string& what, long found, size_t expected) {
    if (found != static_cast<long>(expected)) {
        throw std::runtime_error(what + " found " + std::to_string(found) + ", expected " +
                                 std::to_string(expected));
    }
}

long revokedIn(const RYXASNCRLContainer* container) {
    long revoked = 0;
    for (size_t i = 0; container != nullptr && i < container->size(); ++i) {
        revoked += static_cast<const RYXASNCertificateList*>(container->at(i))->getRevokedCount();
    }
    return revoked;
}

// The JDK peer's own report: "found=N seconds=S".
double javaSeconds(const std::string& out, size_t expected) {
    long found = -1;
    double s = -1;
    if (std::sscanf(out.c_str(), "found=%ld seconds=%lf", &found, &s) != 2) {
        throw std::runtime_error("CertStoreBench said: " + out);
    }
    check("the JDK's CertStore", found, expected);
    return s;
}

// Runs one command as one sample, its output kept and handed to judge, which
// throws when the answer is wrong.
double runJudged(Path& path, benchproc::Command c,
                 const std::function<void(const benchproc::Outcome&)>& judge) {
    c.measureMemory = path.measuringMemory;
    const benchproc::Outcome o = benchproc::run(c, 600, true);
    path.maxRssKiB = std::max(path.maxRssKiB, o.maxRssKiB);
    judge(o);
    return o.seconds;
}

void tally(benchfloor::Verdicts& v, bool valid, bool revoked) {
    ++(valid ? v.valid : revoked ? v.revoked : v.other);
}

// Throws unless got holds the verdicts of leaves [first, first + n).
void checkVerdicts(const std::string& who, const benchfloor::Verdicts& got, size_t first,
                   size_t n) {
    const long revoked = revokedAmong(first + n) - revokedAmong(first);
    const long valid = static_cast<long>(n) - revoked;
    if (got.valid != valid || got.revoked != revoked || got.other != 0) {
        throw std::runtime_error(
            who + " found " + std::to_string(got.valid) + " valid, " + std::to_string(got.revoked) +
            " revoked, " + std::to_string(got.other) + " else; expected " + std::to_string(valid) +
            " valid, " + std::to_string(revoked) + " revoked");
    }
}

// The verdicts in lines of text: lines that end with valid, lines that hold
// revoked, lines that begin with other (and are not revoked).
benchfloor::Verdicts verdictsIn(const std::string& out, const std::string& valid,
                                const std::string& revoked, const std::string& other) {
    benchfloor::Verdicts v;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const bool ok = line.size() >= valid.size() &&
                        line.compare(line.size() - valid.size(), valid.size(), valid) == 0;
        const bool bad = line.find(revoked) != std::string::npos;
        if (ok || bad || line.compare(0, other.size(), other) == 0) {
            tally(v, ok, bad);
        }
    }
    return v;
}

// One openssl verify -crl_check_all over leaves [first, first + n) of v, checked.
double opensslVerify(Path& p, const Data& d, const ValidationSet& v, size_t first, size_t n) {
    benchproc::Command c = command({"openssl", "verify", "-crl_check_all", "-CAfile", d.rootPem,
                                    "-untrusted", v.caPem, "-CRLfile", v.crlsPem});
    c.argv.insert(c.argv.end(), v.leafFiles.begin() + long(first),
                  v.leafFiles.begin() + long(first + n));
    c.maxStatus = 2;
    c.errorToOutput = true;
    return runJudged(p, c, [first, n](const benchproc::Outcome& o) {
        // "FILE: OK", or "error 23 at 0 depth lookup: certificate revoked" and
        // "error FILE: verification failed".
        benchfloor::Verdicts got = verdictsIn(o.out, ": OK", "certificate revoked", "error ");
        got.other -= got.revoked;
        checkVerdicts("openssl verify", got, first, n);
    });
}

// The paths of every workload on one directory and the processes run against
// the stock one.
class Workloads {
  public:
    Workloads(Data& data, std::vector<std::unique_ptr<Server>>& servers)
        : m_data(data), m_servers(servers) {}

    std::vector<Path> paths() {
        std::vector<Path> all;
        for (auto& server : m_servers) {
            inProcess(*server, all);
        }
        validationFloors(all);
        for (auto& server : m_servers) {
            processes(*server, all);
            if (server->stock) {
                jdkValidations(*server, all);
            } else {
                ryxdirValidations(*server, all);
            }
        }
        return all;
    }

  private:
    struct Host {
        managerhost::Connection connection;
        std::unique_ptr<RYXDIRManager> manager;
        std::unique_ptr<benchfloor::Connection> raw;
        std::unique_ptr<RYXDIRConnectInfo::LDAP> info;
        std::unique_ptr<RYXPKIXValueSource> values;
    };

    Host& host(Server& server) {
        std::unique_ptr<Host>& h = m_hosts[&server];
        if (!h) {
            h = std::make_unique<Host>();
            h->connection.port = server.slapd.port();
            h->connection.userDN = server.slapd.rootDN();
            h->connection.password = server.slapd.rootPassword();
            h->manager = managerhost::makeManager(h->connection);
            if (!h->manager) {
                throw std::runtime_error("the plug-in gave no manager");
            }
            h->raw = std::make_unique<benchfloor::Connection>(server.url(), server.slapd.rootDN(),
                                                              server.slapd.rootPassword());
            h->info = std::make_unique<RYXDIRConnectInfo::LDAP>(h->connection.info());
            h->values = std::make_unique<RYXPKIXLdapValueSource>(*h->info);
        }
        return *h;
    }

    static Path timed(const std::string& workload, const std::string& name, Server& server,
                      Role role, std::function<void()> work) {
        Path p{workload, name, server.schema, role, true, nullptr, {}, nullptr, {}, false, -1, -1};
        p.run = [work](Path&) {
            const Clock::time_point start = Clock::now();
            work();
            return seconds(start);
        };
        return p;
    }

    void inProcess(Server& server, std::vector<Path>& all) {
        Host& h = host(server);
        RYXDIRManager& manager = *h.manager;
        benchfloor::Connection& raw = *h.raw;
        const size_t entries = m_data.crlEntries, lookups = m_data.lookups;
        const std::string listAttr = server.attribute("certificateRevocationList");
        const std::string certAttr = server.attribute("cACertificate");

        auto issuer = std::make_shared<RYXASNx500Name>(kBigIssuer);
        all.push_back(timed("W1", "getCRLs", server, Role::Ours, [&manager, issuer, entries] {
            std::unique_ptr<RYXASNCRLContainer> crls(manager.getCRLs(*issuer));
            check("getCRLs", revokedIn(crls.get()), entries);
        }));
        all.push_back(
            timed("W1", "OpenLDAP + d2i_X509_CRL", server, Role::Floor, [&raw, listAttr, entries] {
                check("the floor", raw.fetch(kBigIssuer, listAttr.c_str(), Kind::RevocationList),
                      entries);
            }));

        auto names = std::make_shared<std::vector<RYXASNx500Name>>();
        for (size_t i = 0; i < lookups; ++i) {
            names->emplace_back(caName(i).c_str());
        }
        all.push_back(timed("W2", "one manager", server, Role::Ours, [&manager, names] {
            for (const RYXASNx500Name& name : *names) {
                std::unique_ptr<RYXASNCertificateContainer> certs(manager.getCACertificates(name));
                check("getCACertificates", static_cast<long>(certs->size()), 1);
            }
        }));
        all.push_back(
            timed("W2", "OpenLDAP + d2i_X509 loop", server, Role::Floor, [&raw, certAttr, lookups] {
                for (size_t i = 0; i < lookups; ++i) {
                    check("the floor", raw.fetch(caName(i), certAttr.c_str(), Kind::Certificate),
                          1);
                }
            }));

        const std::string url = server.smallListUrl();
        auto uri = std::make_shared<RYXString>(url.c_str());
        all.push_back(timed("W3", "getViaURI", server, Role::Ours, [&manager, uri, lookups] {
            for (size_t i = 0; i < lookups; ++i) {
                std::unique_ptr<RYXASNCRLContainer> crls(manager.getViaURI(*uri));
                check("getViaURI", revokedIn(crls.get()), kSmallRevoked);
            }
        }));
        // The floor's URL searches reuse one open connection, as the plug-in's do.
        auto anonymous = std::make_shared<benchfloor::Connection>(server.url(), "", "");
        all.push_back(timed("W3", "URL parse + search + d2i_X509_CRL", server, Role::Floor,
                            [anonymous, url, lookups] {
                                for (size_t i = 0; i < lookups; ++i) {
                                    check("the floor", anonymous->fetchUrl(url), kSmallRevoked);
                                }
                            }));

        const managerhost::Connection connection = h.connection;
        all.push_back(timed("W4", "manager create, validate, destroy", server, Role::Ours,
                            [connection, lookups] {
                                for (size_t i = 0; i < lookups; ++i) {
                                    managerhost::makeManager(connection)->validateConnection();
                                }
                            }));
        const std::string serverUrl = server.url(), dn = server.slapd.rootDN(),
                          password = server.slapd.rootPassword();
        all.push_back(timed("W4", "init + bind + unbind", server, Role::Floor,
                            [serverUrl, dn, password, lookups] {
                                for (size_t i = 0; i < lookups; ++i) {
                                    benchfloor::bindAndUnbind(serverUrl, dn, password);
                                }
                            }));
        libraryValidations(server, h, all);
        // The paths on this manager start their memory measurement after a
        // small lookup.
        auto small = std::make_shared<RYXASNx500Name>(caName(0).c_str());
        for (Path& p : all) {
            if (p.role == Role::Ours && p.inProcess && p.schema == server.schema &&
                p.workload != "W4") {
                p.settle = [&manager, small] {
                    std::unique_ptr<RYXASNCertificateContainer>(manager.getCACertificates(*small));
                };
            }
        }
    }

    // The library in process: one validator a run, every leaf validated.
    void libraryValidations(Server& server, Host& h, std::vector<Path>& all) {
        X509* root = m_data.validationRoot.get();
        RYXDIRManager* manager = h.manager.get();
        RYXPKIXValueSource* values = h.values.get();
        for (const auto& set : m_data.validations) {
            const ValidationSet* v = set.get();
            all.push_back(timed(v->workload, "library, one validator", server, Role::Ours, [=] {
                ryx::UniquePtr<X509_STORE> anchors(X509_STORE_new());
                X509_STORE_add_cert(anchors.get(), root);
                RYXPKIXValidator validator(*manager, anchors.get(), "roots", RYXPKIXOptions(),
                                           values);
                benchfloor::Verdicts got;
                for (size_t i = 0; i < v->leaves.size(); ++i) {
                    const RYXPKIXResult r =
                        validator.validate(v->leafPointers[i], nullptr, {"file", v->leafFiles[i]});
                    tally(got, r.verdict == RYXPKIXVerdict::Valid,
                          r.decisive.code == X509_V_ERR_CERT_REVOKED);
                }
                checkVerdicts("the library", got, 0, v->leaves.size());
            }));
        }
    }

    static Path floorPath(const std::string& workload, const std::string& name, bool inProcess,
                          std::function<double(Path&)> run, const std::string& skipped = "") {
        return Path{workload, name,    "files", Role::Floor, inProcess, std::move(run),
                    skipped,  nullptr, {},      false,       -1,        -1};
    }

    // The validation floors on the same objects as files. V2's validate fewer
    // leaves (OpenSSL checks the list's signature again for each), their time
    // scaled to all: in process the loop, of the process what it takes more
    // than for one leaf.
    void validationFloors(std::vector<Path>& all) {
        const Data* d = &m_data;
        const std::string noOpenssl =
            missing({"openssl"}).empty() ? "" : "openssl is not installed";
        for (const auto& set : m_data.validations) {
            const ValidationSet* v = set.get();
            const size_t total = v->leaves.size(), n = v->sample;
            const std::string scaled =
                n < total ? ", " + std::to_string(n) + " certificates scaled" : "";
            all.push_back(floorPath(
                v->workload, "X509_verify_cert loop" + scaled, true, [d, v, n, total](Path&) {
                    const Clock::time_point start = Clock::now();
                    const benchfloor::FileVerifier verifier(d->rootPem, v->caPem, v->crlsPem);
                    const double loading = seconds(start);
                    const Clock::time_point loop = Clock::now();
                    checkVerdicts("X509_verify_cert", verifier.verify(v->leafPointers, 0, n), 0, n);
                    return loading + seconds(loop) * double(total) / double(n);
                }));
            all.push_back(floorPath(
                v->workload, "openssl verify" + scaled, false,
                [d, v, n, total](Path& p) {
                    const double some = opensslVerify(p, *d, *v, 0, n);
                    if (n == total) {
                        return some;
                    }
                    const double one = opensslVerify(p, *d, *v, 1, 1);
                    return one + (some - one) * double(total - 1) / double(n - 1);
                },
                noOpenssl));
            if (v->workload == "V2" && total > 1) {
                all.push_back(floorPath(
                    "V3", "openssl verify, one certificate", false,
                    [d, v](Path& p) { return opensslVerify(p, *d, *v, 1, 1); }, noOpenssl));
            }
        }
    }

    // ryxdir verify: --batch, one process per leaf (a sample, scaled), and
    // V3's single process with a cold and a warm --cache folder.
    void ryxdirValidations(Server& server, std::vector<Path>& all) {
        const Data* d = &m_data;
        const std::vector<std::string> verify{setting("RYX_BENCH_RYXDIR", RYXDIR_PATH),
                                              "-H",
                                              "127.0.0.1",
                                              "-p",
                                              server.port(),
                                              "verify",
                                              "--trust",
                                              d->rootPem};
        auto with = [verify](std::initializer_list<std::string> more) {
            benchproc::Command c = command(verify);
            c.argv.insert(c.argv.end(), more.begin(), more.end());
            c.maxStatus = 8;
            return c;
        };
        for (const auto& set : m_data.validations) {
            const ValidationSet* v = set.get();
            benchproc::Command batch = with({"--batch"});
            batch.stdinPath = v->leafNames;
            all.push_back(process(v->workload, "ryxdir verify --batch", server, Role::Ours,
                                  [batch, v](Path& p) {
                                      return runJudged(p, batch, [v](const benchproc::Outcome& o) {
                                          checkVerdicts("ryxdir verify --batch",
                                                        verdictsIn(o.out, "\tvalid", "revoked", ""),
                                                        0, v->leaves.size());
                                      });
                                  }));
            // Leaves spread over all, every other one off the revoked ones' stride.
            const size_t processes = std::min(d->processes, v->sample);
            const size_t step = std::max<size_t>(1, v->leaves.size() / processes);
            const double scale = double(v->leaves.size()) / double(processes);
            all.push_back(process(
                v->workload, "ryxdir verify per process", server, Role::Ours,
                [with, v, processes, step, scale](Path& p) {
                    double total = 0;
                    for (size_t k = 0; k < processes; ++k) {
                        const size_t i = std::min(v->leaves.size() - 1, k * step + k % 2);
                        total +=
                            runJudged(p, with({v->leafFiles[i]}), [i](const benchproc::Outcome& o) {
                                check("ryxdir verify's status", o.status, revokedLeaf(i) ? 6 : 0);
                            });
                    }
                    return total * scale;
                }));
            if (v->workload != "V2" || v->leaves.size() < 2) {
                continue;
            }
            auto once = [with, v](Path& p, const std::string& cache) {
                return runJudged(p, with({"--cache", cache, v->leafFiles[1]}),
                                 [](const benchproc::Outcome& o) {
                                     check("ryxdir verify's status", o.status, 0);
                                 });
            };
            all.push_back(
                process("V3", "ryxdir verify, cold --cache", server, Role::Ours, [once](Path& p) {
                    TemporaryFolder cache;
                    return once(p, cache.path);
                }));
            auto warmCache = std::make_shared<TemporaryFolder>();
            auto filled = std::make_shared<bool>(false);
            all.push_back(process("V3", "ryxdir verify, warm --cache", server, Role::Ours,
                                  [once, warmCache, filled](Path& p) {
                                      if (!*filled) {
                                          once(p, warmCache->path);
                                          *filled = true;
                                      }
                                      return once(p, warmCache->path);
                                  }));
        }
    }

    // The JDK's PKIX validator, its CA certificates and lists from its LDAP
    // CertStore (with the store's own cache): one JVM, the leaves validated
    // once untimed, then once timed.
    void jdkValidations(Server& server, std::vector<Path>& all) {
        const std::string classes = setting("RYX_BENCH_JAVA_CLASSES");
        const std::string noJava =
            classes.empty() || !benchproc::installed("java") ? "a JDK (java, javac)" : "";
        for (const auto& set : m_data.validations) {
            const ValidationSet* v = set.get();
            const benchproc::Command c =
                command({"java", "-cp", classes, "CertStoreBench", "verify", "127.0.0.1",
                         server.port(), v->sampleNames, "1", "1", m_data.rootPem});
            const size_t n = v->sample;
            const double scale = double(v->leaves.size()) / double(n);
            all.push_back(process(
                v->workload,
                "JDK PKIX warm" +
                    (n < v->leaves.size() ? ", " + std::to_string(n) + " certificates scaled" : ""),
                server, Role::Peer,
                [c, n, scale](Path& p) {
                    double s = 0;
                    runJudged(p, c, [&s, n](const benchproc::Outcome& o) {
                        long valid = -1, revoked = -1;
                        if (std::sscanf(o.out.c_str(), "found=%ld seconds=%lf revoked=%ld", &valid,
                                        &s, &revoked) != 3) {
                            throw std::runtime_error("CertStoreBench said: " + o.out);
                        }
                        checkVerdicts("the JDK", benchfloor::Verdicts{valid, revoked, 0}, 0, n);
                    });
                    return s * scale;
                },
                noJava));
        }
    }

    Path process(const std::string& workload, const std::string& name, Server& server, Role role,
                 std::function<double(Path&)> run, const std::string& missing = std::string()) {
        Path p{workload, name, server.schema, role, false, std::move(run), {},
               nullptr,  {},   false,         -1,   -1};
        if (!missing.empty()) {
            p.skipped = missing + " is not installed";
        }
        return p;
    }

    // The first of the programs that is not installed, or "".
    static std::string missing(const std::vector<std::string>& programs) {
        for (const std::string& p : programs) {
            if (!benchproc::installed(p)) {
                return p;
            }
        }
        return std::string();
    }

    // ryxdir and the command-line peers against the octet-string directory,
    // where every release of ryxdir finds what it asks for; the JDK against
    // the stock one, where its ";binary" descriptions find the values.
    void processes(Server& server, std::vector<Path>& all) {
        const Data* d = &m_data;
        const std::string url = server.url(), port = server.port();
        const std::string smallListUrl = server.smallListUrl(), bigListUrl = server.bigListUrl();
        const std::string listAttr = server.attribute("certificateRevocationList");
        if (server.stock) {
            const std::string classes = setting("RYX_BENCH_JAVA_CLASSES");
            const std::string noJava = classes.empty() || !benchproc::installed("java")
                                           ? std::string("a JDK (java, javac)")
                                           : std::string();
            auto certStore = [classes, port](const char* kind, const std::string& namesFile,
                                             const char* warm) {
                return command({"java", "-Dsun.security.certpath.ldap.cache.lifetime=0", "-cp",
                                classes, "CertStoreBench", kind, "127.0.0.1", port, namesFile, warm,
                                "1"});
            };
            // Warm: the store's JVM has run the workload twice (once for W2)
            // before the timed run, which the program times itself.
            auto warm = [certStore](const char* kind, const std::string& namesFile,
                                    const char* rounds, size_t expected) {
                return [=](Path& p) {
                    benchproc::Command c = certStore(kind, namesFile, rounds);
                    c.measureMemory = p.measuringMemory;
                    const benchproc::Outcome o = benchproc::run(c, 600, true);
                    p.maxRssKiB = std::max(p.maxRssKiB, o.maxRssKiB);
                    return javaSeconds(o.out, expected);
                };
            };
            all.push_back(process(
                "W1", "JDK CertStore per process", server, Role::Peer,
                [=](Path& p) { return runAll(p, {certStore("crl", d->bigIssuerName, "0")}); },
                noJava));
            all.push_back(process("W1", "JDK CertStore warm", server, Role::Peer,
                                  warm("crl", d->bigIssuerName, "2", d->crlEntries), noJava));
            all.push_back(process("W2", "JDK CertStore warm", server, Role::Peer,
                                  warm("ca", d->caNames, "1", d->lookups), noJava));
            return;
        }

        const std::string ryxdir = setting("RYX_BENCH_RYXDIR", RYXDIR_PATH);
        const std::vector<std::string> at{ryxdir, "-H", "127.0.0.1", "-p", port};
        auto with = [at](std::initializer_list<std::string> more) {
            std::vector<std::string> argv = at;
            argv.insert(argv.end(), more.begin(), more.end());
            return argv;
        };
        all.push_back(process("W1", "ryxdir crl per process", server, Role::Ours, [=](Path& p) {
            return runAll(p, {command(with({"crl", kBigIssuer}))});
        }));
        const std::string values = d->folder + "/ldapsearch";
        ::mkdir(values.c_str(), 0700);
        const std::string ldapsearchT =
            "ldapsearch -x -LLL -t -T " + values + " -H " + url + " -b " + shellQuoted(kBigIssuer) +
            " -s base " + shellQuoted(listAttr) + " >/dev/null && openssl crl -inform DER -in " +
            values + "/ldapsearch-*; rm -f " + values + "/ldapsearch-*";
        all.push_back(process(
            "W1", "ldapsearch -t + openssl crl", server, Role::Peer,
            [=](Path& p) { return runAll(p, {benchproc::shell(ldapsearchT)}); },
            missing({"ldapsearch", "openssl"})));
        const std::string curlOpenssl = "curl -sS " + shellQuoted(bigListUrl) +
                                        " | sed -n 's/^\t[^:]*:: //p' | base64 -d | "
                                        "openssl crl -inform DER";
        all.push_back(process(
            "W1", "curl + openssl crl", server, Role::Peer,
            [=](Path& p) { return runAll(p, {benchproc::shell(curlOpenssl)}); },
            missing({"curl", "sed", "base64", "openssl"})));

        all.push_back(process(
            "W2", "ryxdir --batch", server, Role::Ours,
            [=](Path& p) {
                return runAll(p, {command(with({"--batch", "ca"}), d->caNames)});
            },
            supportsBatch(ryxdir) ? "" : "--batch (this ryxdir has none)"));
        // One process per lookup: d->processes of them, the time scaled to all.
        const double scale = double(d->lookups) / double(d->processes);
        all.push_back(process("W2", "ryxdir ca per process", server, Role::Ours, [=](Path& p) {
            std::vector<benchproc::Command> each;
            for (size_t i = 0; i < d->processes; ++i) {
                each.push_back(command(with({"ca", caName(i)})));
            }
            return runAll(p, each) * scale;
        }));
        all.push_back(process(
            "W2", "ldapsearch per process", server, Role::Peer,
            [=](Path& p) {
                std::vector<benchproc::Command> each;
                for (size_t i = 0; i < d->processes; ++i) {
                    each.push_back(command({"ldapsearch", "-x", "-LLL", "-H", url, "-b", caName(i),
                                            "-s", "base", "cACertificate"}));
                }
                return runAll(p, each) * scale;
            },
            missing({"ldapsearch"})));

        all.push_back(process(
            "W3", "curl per process", server, Role::Peer,
            [=](Path& p) {
                return runAll(p, std::vector<benchproc::Command>(
                                     d->processes, command({"curl", "-sS", smallListUrl}))) *
                       scale;
            },
            missing({"curl"})));
    }

    static bool supportsBatch(const std::string& ryxdir) {
        return benchproc::run(command({ryxdir, "-h"}), 60, true).out.find("--batch") !=
               std::string::npos;
    }

    Data& m_data;
    std::vector<std::unique_ptr<Server>>& m_servers;
    std::map<Server*, std::unique_ptr<Host>> m_hosts;
};

bool wanted(const std::string& workload) {
    const std::string list = "," + setting("RYX_BENCH_WORKLOADS", "W1,W2,W3,W4,V1,V2,V3") + ",";
    return list.find("," + workload + ",") != std::string::npos;
}

std::string milliseconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, s >= 10 ? "%.0f ms" : "%.1f ms", s * 1000);
    return text;
}

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    return text;
}

std::string ratio(double a, double b) {
    if (a <= 0 || b <= 0) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", a / b);
    return text;
}

const Path* find(const std::vector<Path>& paths, const std::string& id) {
    for (const Path& p : paths) {
        if (p.id() == id && p.skipped.empty() && !p.samples.empty()) {
            return &p;
        }
    }
    return nullptr;
}

// The floor of p: of its workload and schema, or the workload's floor on files
// (the one run the same way, in process or not, when there are both).
const Path* floorOf(const std::vector<Path>& paths, const Path& p) {
    const Path* floor = nullptr;
    for (const Path& f : paths) {
        if (f.workload != p.workload || f.role != Role::Floor || f.samples.empty()) {
            continue;
        }
        if (f.schema == p.schema) {
            return &f;
        }
        if (f.schema == "files" && (floor == nullptr || f.inProcess == p.inProcess)) {
            floor = &f;
        }
    }
    return floor;
}

// The memory a path took: its peak heap in process, else its processes' peak
// resident set; -1 when not measured.
double memoryOf(const Path& p) {
    return p.inProcess ? p.heapBytes : p.maxRssKiB >= 0 ? double(p.maxRssKiB) * 1024 : -1;
}

// The table of medians and the goal ratios, in markdown.
std::string summary(const std::vector<Path>& paths, const Data& data, size_t repetitions,
                    std::ostringstream& goals) {
    std::ostringstream t;
    t << "Medians of " << repetitions << " runs per path, paths interleaved.";
    if (wanted("W1") || wanted("W2") || wanted("W3") || wanted("W4")) {
        t << " W1: one CRL of " << data.crlEntries << " revoked entries ("
          << megabytes(double(data.bigList.size())) << " of DER); W2, W3: " << data.lookups
          << " lookups; W4: " << data.lookups << " managers.";
    }
    t << " A path of one process per lookup or certificate runs " << data.processes
      << " processes a run, its time scaled to " << data.lookups
      << ". Memory: a process's peak resident set, or in process the peak heap of one run above "
         "its start.";
    const ValidationSet* v2 = data.set("V2");
    if (!data.validations.empty()) {
        t << " V1, V2: " << data.validations.front()->leaves.size()
          << " end-entity certificates of one CA (" << revokedAmong(data.lookups)
          << " revoked), its list of " << kRevokedLeaves << " entries (V1) or "
          << data.crlEntries + kRevokedLeaves << " entries ("
          << (v2 ? megabytes(double(v2->list.size())) : "") << " of DER, V2); V3: one of them.";
        if (v2 != nullptr && v2->sample < v2->leaves.size()) {
            t << " V2's floors, JDK pass and processes validate " << v2->sample
              << " of the certificates, their time scaled to all (openssl verify: what a run "
                 "takes more than for one certificate).";
        }
    }
    t << "\n\n"
      << "| workload | path | kind | schema | median | x floor | peak memory |\n"
      << "|---|---|---|---|---|---|---|\n";
    for (const Path& p : paths) {
        const char* kind = p.role == Role::Ours    ? (p.inProcess ? "ours, in process" : "ours")
                           : p.role == Role::Floor ? "floor"
                                                   : "peer";
        t << "| " << p.workload << " | " << p.name << " | " << kind << " | " << p.schema << " | ";
        if (!p.skipped.empty()) {
            t << "skipped: " << p.skipped << " | | |\n";
            continue;
        }
        const Path* floor = floorOf(paths, p);
        const std::string memory = memoryOf(p) >= 0 ? megabytes(memoryOf(p)) : "";
        t << milliseconds(p.median()) << " | " << (floor ? ratio(p.median(), floor->median()) : "")
          << " | " << memory << " |\n";
    }

    // Each goal: a path's median over another's, and the limit it is held to.
    struct Goal {
        const char* key;
        std::string path;
        std::string reference;
        double limit;
        bool atLeast = false;  // the limit is a lower one
    };
    std::vector<Goal> list;
    for (const char* schema : {"stock", "octet-string"}) {
        const std::string s = std::string("/") + schema;
        list.push_back(
            {"W1 getCRLs / floor", "W1/getCRLs" + s, "W1/OpenLDAP + d2i_X509_CRL" + s, 0.5});
        list.push_back({"W2 one manager / floor", "W2/one manager" + s,
                        "W2/OpenLDAP + d2i_X509 loop" + s, 1.05});
        list.push_back({"W3 getViaURI / floor", "W3/getViaURI" + s,
                        "W3/URL parse + search + d2i_X509_CRL" + s, 1.2});
        list.push_back({"W4 managers / floor", "W4/manager create, validate, destroy" + s,
                        "W4/init + bind + unbind" + s, 1.2});
    }
    list.push_back({"W1 ryxdir crl / ldapsearch -t + openssl crl",
                    "W1/ryxdir crl per process/octet-string",
                    "W1/ldapsearch -t + openssl crl/octet-string", 0.7});
    list.push_back({"W2 ryxdir ca / ldapsearch, per process",
                    "W2/ryxdir ca per process/octet-string",
                    "W2/ldapsearch per process/octet-string", 1.0});
    for (const char* schema : {"stock", "octet-string"}) {
        const std::string library = std::string("library, one validator/") + schema;
        list.push_back({"V1 library / X509_verify_cert loop", "V1/" + library,
                        "V1/X509_verify_cert loop/files", 1.1});
        list.push_back({"V2 / V1 library", "V2/" + library, "V1/" + library, 2});
    }
    list.push_back({"V1 ryxdir verify --batch / openssl verify",
                    "V1/ryxdir verify --batch/octet-string", "V1/openssl verify/files", 1.5});
    list.push_back({"V1 JDK PKIX warm / ryxdir verify --batch", "V1/JDK PKIX warm/stock",
                    "V1/ryxdir verify --batch/octet-string", 2, true});
    list.push_back({"V2 / V1 ryxdir verify --batch", "V2/ryxdir verify --batch/octet-string",
                    "V1/ryxdir verify --batch/octet-string", 2});
    list.push_back({"V3 warm / cold --cache", "V3/ryxdir verify, warm --cache/octet-string",
                    "V3/ryxdir verify, cold --cache/octet-string", 0.3});
    t << "\n| goal | schema | measured | limit | met |\n|---|---|---|---|---|\n";
    for (const Goal& g : list) {
        const Path* a = find(paths, g.path);
        const Path* b = find(paths, g.reference);
        if (a == nullptr || b == nullptr) {
            continue;
        }
        const double r = a->median() / b->median();
        t << "| " << g.key << " | " << a->schema << " | " << ratio(a->median(), b->median())
          << " | " << (g.atLeast ? "at least " : "") << g.limit << "x | "
          << ((g.atLeast ? r >= g.limit : r <= g.limit) ? "yes" : "no") << " |\n";
        goals << g.key << " (" << a->schema << ")\t" << r << "\n";
    }
    // Peak memory over a list's size, at most 3x.
    struct MemoryGoal {
        std::string key;
        std::string path;
        double size;
    };
    std::vector<MemoryGoal> memory;
    const double v2List = v2 ? double(v2->list.size()) : 0;
    for (const std::string schema : {"stock", "octet-string"}) {
        memory.push_back({"W1 getCRLs peak heap / CRL size", "W1/getCRLs/" + schema,
                          double(data.bigList.size())});
        memory.push_back(
            {"V2 library peak heap / list size", "V2/library, one validator/" + schema, v2List});
    }
    memory.push_back({"V2 ryxdir verify --batch peak memory / list size",
                      "V2/ryxdir verify --batch/octet-string", v2List});
    for (const MemoryGoal& g : memory) {
        const Path* p = find(paths, g.path);
        if (p != nullptr && memoryOf(*p) >= 0 && g.size > 0) {
            const double r = memoryOf(*p) / g.size;
            t << "| " << g.key << " | " << p->schema << " | " << ratio(memoryOf(*p), g.size)
              << " | 3x | " << (r <= 3 ? "yes" : "no") << " |\n";
            goals << g.key << " (" << p->schema << ")\t" << r << "\n";
        }
    }
    return t.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

// The validation root, its authority list, and the CA, list and leaves of
// each validation workload wanted (V3 runs on V2's), with their files.
void makeValidations(Data& data) {
    const bool v1 = wanted("V1"), v2 = wanted("V2") || wanted("V3");
    if (!v1 && !v2) {
        return;
    }
    const labpki::Authority root = labpki::Authority::root(kValidationRoot);
    data.validationRoot = labpki::certificateFromDER(root.certificateDER());
    data.rootList = root.arl();
    data.rootPem = data.folder + "/v-root.pem";
    writeFile(data.rootPem, labpki::certificatePEM(root.certificateDER()));
    labpki::CrlOptions listed;
    for (size_t k = 0; k < kRevokedLeaves; ++k) {
        listed.serials.push_back(kFirstLeafSerial + k * kRevokedStride);
    }
    const labpki::KeyPtr key = labpki::makeKey();
    for (const std::string workload : {"V1", "V2"}) {
        if (!(workload == "V1" ? v1 : v2)) {
            continue;
        }
        auto v = std::make_unique<ValidationSet>();
        v->workload = workload;
        v->caDN = "cn=" + workload + " CA,dc=example,dc=com";
        const labpki::Authority ca =
            root.intermediate(v->caDN, labpki::Authority::caDefaults(data.validations.size() + 2));
        labpki::CrlOptions options = listed;
        options.revokedCount = workload == "V2" ? data.crlEntries : 0;
        v->caCertificate = ca.certificateDER();
        v->list = ca.crl(options);
        const std::string base = data.folder + "/" + workload;
        v->caPem = base + "-ca.pem";
        writeFile(v->caPem, labpki::certificatePEM(v->caCertificate));
        v->crlsPem = base + "-crls.pem";
        writeFile(v->crlsPem, labpki::crlPEM(v->list) + labpki::crlPEM(data.rootList));
        v->sample = workload == "V2" ? std::min(data.lookups, data.v2Sample) : data.lookups;
        std::string names;
        for (size_t i = 0; i < data.lookups; ++i) {
            if (i == v->sample) {
                v->sampleNames = base + "-sample";
                writeFile(v->sampleNames, names);
            }
            labpki::CertOptions o;
            o.serial = kFirstLeafSerial + i;
            const labpki::Bytes der =
                ca.issue("cn=Leaf " + std::to_string(i) + ",dc=example,dc=com", o, key.get());
            v->leafFiles.push_back(base + "-leaf-" + std::to_string(i) + ".pem");
            writeFile(v->leafFiles.back(), labpki::certificatePEM(der));
            names += v->leafFiles.back() + "\n";
            v->leaves.push_back(labpki::certificateFromDER(der));
            v->leafPointers.push_back(v->leaves.back().get());
        }
        v->leafNames = base + "-leaves";
        writeFile(v->leafNames, names);
        if (v->sampleNames.empty()) {
            v->sampleNames = v->leafNames;
        }
        data.validations.push_back(std::move(v));
    }
}

int run(int argc, char** argv) {
    Data data;
    data.crlEntries =
        wanted("W1") || wanted("V2") || wanted("V3") ? count("RYX_BENCH_CRL_ENTRIES", 1000000) : 1;
    data.lookups = count("RYX_BENCH_LOOKUPS", 1000);
    data.processes = std::min(data.lookups, count("RYX_BENCH_PROCESSES", 100));
    data.v2Sample = std::max<size_t>(2, count("RYX_BENCH_V2_SAMPLE", 10));
    const size_t repetitions = count("RYX_BENCH_REPETITIONS", 5);

    TemporaryFolder folder;
    data.folder = folder.path;
    std::ostringstream names;
    for (size_t i = 0; i < data.lookups; ++i) {
        names << caName(i) << "\n";
    }
    data.caNames = data.folder + "/ca-names";
    writeFile(data.caNames, names.str());
    data.bigIssuerName = data.folder + "/big-issuer";
    writeFile(data.bigIssuerName, std::string(kBigIssuer) + "\n");

    const Clock::time_point start = Clock::now();
    labpki::Authority ca = labpki::Authority::root(kBigIssuer);
    labpki::CrlOptions big;
    big.revokedCount = wanted("W1") ? data.crlEntries : 1;
    data.bigList = ca.crl(big);
    labpki::CrlOptions small;
    small.revokedCount = kSmallRevoked;
    const labpki::Bytes smallList = labpki::Authority::root(kSmallIssuer).crl(small);
    std::vector<labpki::Bytes> caCertificates;
    for (size_t i = 0; i < data.lookups; ++i) {
        caCertificates.push_back(labpki::Authority::root(caName(i)).certificateDER());
    }
    makeValidations(data);
    std::vector<std::unique_ptr<Server>> servers;
    for (bool stock : {true, false}) {
        servers.push_back(std::make_unique<Server>(stock));
        load(*servers.back(), data, ca, caCertificates, smallList);
    }
    std::printf("data generated and loaded into two directories in %.1f s\n", seconds(start));

    // The toolkit LDAP library reports "name;binary" values under the name
    // asked for, as ryxdir has it do.
    ::setenv("RYX_LDAP_FOLD_BINARY", "1", 0);
    managerhost::Plugin plugin;
    Workloads workloads(data, servers);
    std::vector<Path> paths;
    const std::regex only(setting("RYX_BENCH_ONLY", "."));
    for (Path& p : workloads.paths()) {
        if (wanted(p.workload) && std::regex_search(p.id(), only)) {
            paths.push_back(std::move(p));
        }
    }

    // Every path runs once, checked, before any is timed; one that fails is
    // listed with its reason.
    for (Path& p : paths) {
        if (p.skipped.empty()) {
            try {
                p.run(p);
            } catch (const std::exception& e) {
                p.skipped = std::string("failed: ") + e.what();
                std::fprintf(stderr, "workload_bench: %s %s\n", p.id().c_str(), p.skipped.c_str());
            }
        }
    }
    for (Path& p : paths) {
        if (!p.skipped.empty()) {
            continue;
        }
        Path* path = &p;
        benchmark::RegisterBenchmark(p.id().c_str(),
                                     [path](benchmark::State& state) {
                                         for (auto _ : state) {
                                             const double s = path->run(*path);
                                             state.SetIterationTime(s);
                                             path->samples.push_back(s);
                                         }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(1)
            ->Repetitions(static_cast<int>(repetitions));
    }
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {interleave, aggregates});
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // Memory, outside the timing: the peak heap of one run of each in-process
    // path, and the peak resident set of each process path's processes.
    const bool gnuTime = ::access("/usr/bin/time", X_OK) == 0;
    for (Path& p : paths) {
        if (!p.skipped.empty()) {
            continue;
        }
        if (p.inProcess && heapcount::active()) {
            if (p.settle) {
                p.settle();
            }
            p.heapBytes = double(heapcount::peakDuring([&p] { p.run(p); }));
        } else if (!p.inProcess && gnuTime) {
            p.measuringMemory = true;
            p.run(p);
        }
    }
    std::ostringstream goals;
    const std::string table = summary(paths, data, repetitions, goals);
    std::printf("\n%s", table.c_str());
    if (!setting("RYX_BENCH_SUMMARY").empty()) {
        writeFile(setting("RYX_BENCH_SUMMARY"), table);
    }
    if (!setting("RYX_BENCH_GOALS").empty()) {
        writeFile(setting("RYX_BENCH_GOALS"), goals.str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "workload_bench: %s\n", e.what());
        return 1;
    }
}
