// How long a freshness report of a directory's revocation lists takes, side
// by side: ryxdir status over N CA entries each holding its certificate and a
// list, against the script operators write today (per entry: ldapsearch of
// the list, then openssl crl -nextupdate; run on a sample and scaled to N),
// and against one paged ldapsearch of the subtree with every list it wrote
// decoded in one process (d2i_X509_CRL and the next update). Prints the
// medians and the ratios; asserts nothing on a time.
//
//   RYX_BENCH_STATUS_ENTRIES      CA entries (default 10000)
//   RYX_BENCH_STATUS_SAMPLE       entries the per-entry script runs on (default 200)
//   RYX_BENCH_REPETITIONS         runs of each path (default 3)
//   RYX_BENCH_RYXDIR              the ryxdir to run (default the one built with this)
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "benchproc.h"
#include "labpki.h"
#include "labslapd.h"

namespace {

const std::string kBase = "ou=CAs,dc=example,dc=com";

long setting(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::strtol(v, nullptr, 10) : fallback;
}

std::string dnOf(long i) {
    return "cn=CA " + std::to_string(i) + "," + kBase;
}

void load(LabSlapd& slapd, long entries) {
    slapd.addEntry(kBase, {{"objectClass", {"organizationalUnit"}}, {"ou", {"CAs"}}});
    labpki::CrlOptions list;
    list.revokedCount = 10;
    for (long i = 0; i < entries; ++i) {
        const labpki::Authority ca = labpki::Authority::root(dnOf(i));
        const labpki::Bytes cert = ca.certificateDER(), crl = ca.crl(list);
        slapd.addEntry(
            dnOf(i), {{"objectClass", {"applicationProcess", "pkiCA"}},
                      {"cn", {"CA " + std::to_string(i)}},
                      {"cACertificate;binary", {std::string(cert.begin(), cert.end())}},
                      {"certificateRevocationList;binary", {std::string(crl.begin(), crl.end())}}});
    }
}

double seconds(const std::chrono::steady_clock::time_point& since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The lists an ldapsearch -t wrote into dir, decoded; returns how many.
long decodeAll(const std::string& dir) {
    long decoded = 0;
    for (const auto& file : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string der((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        ryx::UniquePtr<X509_CRL> crl(d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size())));
        if (crl && X509_CRL_get0_nextUpdate(crl.get()) != nullptr) {
            ++decoded;
        }
    }
    return decoded;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const long entries = setting("RYX_BENCH_STATUS_ENTRIES", 10000);
    const long sample = std::min(entries, setting("RYX_BENCH_STATUS_SAMPLE", 200));
    const long repetitions = std::max(1L, setting("RYX_BENCH_REPETITIONS", 3));
    const char* ryxdir = std::getenv("RYX_BENCH_RYXDIR");

    LabSlapd slapd(LabSlapd::Schema::Stock);
    slapd.setSizeLimit(500);
    slapd.start();
    const auto loading = std::chrono::steady_clock::now();
    load(slapd, entries);
    std::cout << "loaded " << entries << " CA entries in " << seconds(loading) << " s\n";

    const std::string url = slapd.url(), work = slapd.directory() + "/status-bench";
    std::filesystem::create_directories(work);
    std::string loop = "for i in $(seq 0 " + std::to_string(sample - 1) +
                       "); do ldapsearch -x -LLL -H " + url + " -s base -b \"cn=CA $i," + kBase +
                       "\" -t -T " + work +
                       " certificateRevocationList >/dev/null && openssl crl "
                       "-inform DER -in " +
                       work +
                       "/ldapsearch-certificateRevocationList* "
                       "-noout -nextupdate && rm -f " +
                       work + "/ldapsearch-*; done";
    const std::string paged = "rm -rf " + work + "/paged && mkdir " + work +
                              "/paged && ldapsearch -x -LLL -H " + url + " -b " + kBase +
                              " -E pr=500/noprompt -t -T " + work +
                              "/paged '(certificateRevocationList=*)' "
                              "certificateRevocationList >/dev/null";
    benchproc::Command status;
    status.argv = {ryxdir != nullptr ? ryxdir : RYXDIR_PATH,
                   "-H",
                   slapd.host(),
                   "-p",
                   std::to_string(slapd.port()),
                   "status",
                   kBase};

    std::vector<double> ours, script, floor;
    long decoded = 0;
    for (long r = 0; r < repetitions; ++r) {
        ours.push_back(benchproc::run(status).seconds);
        script.push_back(benchproc::run(benchproc::shell(loop)).seconds * entries / sample);
        const auto start = std::chrono::steady_clock::now();
        benchproc::run(benchproc::shell(paged));
        decoded = decodeAll(work + "/paged");
        floor.push_back(seconds(start));
    }
    if (decoded != entries) {
        std::cerr << "the paged search gave " << decoded << " lists, not " << entries << "\n";
        return 1;
    }
    const double a = median(ours), b = median(script), c = median(floor);
    std::printf("| path | median s |\n|---|---|\n");
    std::printf("| ryxdir status (one process, paged) | %.3f |\n", a);
    std::printf("| ldapsearch + openssl crl per entry (%ld sampled, scaled) | %.3f |\n", sample, b);
    std::printf("| one paged ldapsearch -t + d2i_X509_CRL in one process | %.3f |\n", c);
    std::printf(
        "S1: script / ryxdir status = %.1fx (goal >= 20), ryxdir status / paged "
        "ldapsearch + decoding = %.2fx (goal <= 1.5)\n",
        b / a, a / c);
    return 0;
}
