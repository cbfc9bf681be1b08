// Publishing one large revocation list: `ryxdir publish crl` (decode, read the
// entry's lists and CA certificates, check signature and number, one modify,
// read back) side by side with `ldapmodify` replacing the attribute with a value
// of the same size from an LDIF file (no checks), repeated and interleaved on a
// throwaway slapd with the stock schema. Each round ldapmodify puts back list 2
// and ryxdir publishes list 3 over it, so every publication passes all checks.
// Prints the medians and their ratio; asserts nothing about a time.
//
//   RYX_BENCH_CRL_ENTRIES   revoked entries of the lists (default 1000000)
//   RYX_BENCH_REPETITIONS   rounds (default 5)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "benchproc.h"
#include "labpki.h"
#include "labslapd.h"

namespace {

long setting(const char* name, long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void writeFile(const std::string& path, const std::string& bytes) {
    if (!(std::ofstream(path, std::ios::binary) << bytes)) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string text(const labpki::Bytes& b) {
    return std::string(b.begin(), b.end());
}

}  // namespace

int main() {
    const long entries = setting("RYX_BENCH_CRL_ENTRIES", 1000000);
    const long rounds = std::max(1L, setting("RYX_BENCH_REPETITIONS", 5));
    try {
        LabSlapd slapd(LabSlapd::Schema::Stock);
        slapd.start();
        const std::string dn = "cn=Bench CA," + slapd.suffix();
        const labpki::Authority ca = labpki::Authority::root(dn);
        labpki::CrlOptions options;
        options.crlNumber = 1;
        slapd.addEntry(dn, {{"objectClass", {"applicationProcess", "pkiCA"}},
                            {"cn", {"Bench CA"}},
                            {"cACertificate;binary", {text(ca.certificateDER())}},
                            {"certificateRevocationList;binary", {text(ca.crl(options))}}});
        options.revokedCount = static_cast<size_t>(entries);
        const std::string dir = slapd.directory();
        const std::string older = dir + "/list2.der", newer = dir + "/list3.der";
        options.crlNumber = 2;
        const labpki::Bytes list2 = ca.crl(options);
        writeFile(older, text(list2));
        options.crlNumber = 3;
        writeFile(newer, text(ca.crl(options)));
        writeFile(dir + "/put-back.ldif",
                  "dn: " + dn +
                      "\nchangetype: modify\nreplace: certificateRevocationList;binary\n"
                      "certificateRevocationList;binary:< file://" +
                      older + "\n-\n");
        benchproc::Command ldapmodify, publish;
        ldapmodify.argv = {"ldapmodify", "-x",
                           "-H",         slapd.url(),
                           "-D",         slapd.rootDN(),
                           "-w",         slapd.rootPassword(),
                           "-f",         dir + "/put-back.ldif"};
        publish.argv = {RYXDIR_PATH,
                        "-H",
                        slapd.host(),
                        "-p",
                        std::to_string(slapd.port()),
                        "-D",
                        slapd.rootDN(),
                        "-w",
                        slapd.rootPassword(),
                        "publish",
                        "crl",
                        newer};
        std::vector<double> peer, ours;
        for (long i = 0; i < rounds; ++i) {
            peer.push_back(benchproc::run(ldapmodify).seconds);
            ours.push_back(benchproc::run(publish).seconds);
        }
        std::printf("S2: one list of %ld entries (%zu bytes of DER), %ld rounds, medians\n",
                    entries, list2.size(), rounds);
        std::printf("| path | seconds | ratio |\n|---|---|---|\n");
        std::printf("| ldapmodify (replace, no checks) | %.3f | 1.00 |\n", median(peer));
        std::printf("| ryxdir publish crl | %.3f | %.2f |\n", median(ours),
                    median(ours) / median(peer));
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "publish_bench: %s\n", e.what());
        return 1;
    }
}
