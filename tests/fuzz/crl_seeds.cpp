// Writes the seed corpus of crl_fuzz into the folder given: revocation lists of
// many shapes from the lab's PKI generator, and a few that it does not make
// (version 1 without extensions, GeneralizedTime, negative serial numbers,
// entries of another issuer or removed from the list, Unicode names).
#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "labpki.h"
#include "ryxopensslptr.h"

namespace {

using labpki::Bytes;

void save(const std::string& folder, const std::string& name, const Bytes& der) {
    std::ofstream out(folder + "/" + name + ".der", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
    if (!out) {
        throw std::runtime_error("cannot write seed " + name);
    }
}

void require(bool ok, const char* what) {
    if (!ok) {
        throw std::runtime_error(std::string("crl_seeds: ") + what);
    }
}

ryx::UniquePtr<ASN1_STRING> time(std::time_t when) {
    ryx::UniquePtr<ASN1_STRING> t(ASN1_TIME_set(nullptr, when));
    require(t != nullptr, "ASN1_TIME_set");
    return t;
}

void addEntry(X509_CRL* crl, long serial, std::time_t when, int reason,
              const X509_NAME* certificateIssuer) {
    ryx::UniquePtr<X509_REVOKED> entry(X509_REVOKED_new());
    ryx::UniquePtr<ASN1_STRING> number(ASN1_INTEGER_new());
    require(ASN1_INTEGER_set(number.get(), serial) == 1, "ASN1_INTEGER_set");
    require(X509_REVOKED_set_serialNumber(entry.get(), number.get()) == 1, "serial");
    require(X509_REVOKED_set_revocationDate(entry.get(), time(when).get()) == 1, "date");
    if (reason >= 0) {
        ryx::UniquePtr<ASN1_STRING> code(ASN1_ENUMERATED_new());
        require(ASN1_ENUMERATED_set(code.get(), reason) == 1, "reason");
        require(X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, code.get(), 0, 0) == 1,
                "reason extension");
    }
    if (certificateIssuer != nullptr) {
        GENERAL_NAMES* names = GENERAL_NAMES_new();
        GENERAL_NAME* name = GENERAL_NAME_new();
        GENERAL_NAME_set0_value(name, GEN_DIRNAME, X509_NAME_dup(certificateIssuer));
        sk_GENERAL_NAME_push(names, name);
        require(X509_REVOKED_add1_ext_i2d(entry.get(), NID_certificate_issuer, names, 1, 0) == 1,
                "certificate issuer extension");
        GENERAL_NAMES_free(names);
    }
    require(X509_CRL_add0_revoked(crl, entry.get()) == 1, "add revoked");
    entry.release();
}

// A list built directly with OpenSSL, signed by ca.
Bytes custom(const labpki::Authority& ca, bool version2, std::time_t thisUpdate,
             const std::string& issuerText, void (*fill)(X509_CRL*, std::time_t)) {
    ryx::UniquePtr<X509_CRL> crl(X509_CRL_new());
    if (version2) {
        require(X509_CRL_set_version(crl.get(), X509_CRL_VERSION_2) == 1, "version");
    }
    labpki::NamePtr issuer = labpki::parseName(issuerText);
    require(X509_CRL_set_issuer_name(crl.get(), issuer.get()) == 1, "issuer");
    require(X509_CRL_set1_lastUpdate(crl.get(), time(thisUpdate).get()) == 1, "thisUpdate");
    fill(crl.get(), thisUpdate);
    require(X509_CRL_sign(crl.get(), ca.key(), EVP_sha256()) > 0, "sign");
    return labpki::toDER(crl.get());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crl_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    try {
        labpki::Authority ca = labpki::Authority::root("cn=Seed CA+uid=s1,ou=Fuzz,o=Org,c=US");
        labpki::CrlOptions options;
        options.thisUpdate = 1704164645;  // 2024-01-02
        save(folder, "empty", ca.crl(options));
        options.hasNextUpdate = false;
        save(folder, "no-next-update", ca.crl(options));
        options.hasNextUpdate = true;
        options.revokedCount = 3;
        options.crlNumber = 0x1234567890ull;
        save(folder, "three", ca.crl(options));
        options.revokedCount = 150;
        options.firstSerial = 0x7f;
        options.withReasons = true;
        save(folder, "sampled-with-reasons", ca.crl(options));
        options.revokedCount = 70;
        options.firstSerial = 1ull << 62;
        options.withReasons = false;
        options.serials = {5, 1ull << 63, 0x80, 0};
        save(folder, "out-of-order", ca.crl(options));
        options.serials.clear();
        options.revokedCount = 2;
        save(folder, "authority", ca.arl(options));
        labpki::Authority utf8 = labpki::Authority::root("cn=Zertifizierungsstelle \xc3\x84,c=DE");
        save(folder, "utf8-issuer", utf8.crl(options));
        save(folder, "certificate", ca.certificateDER());

        save(folder, "version1",
             custom(ca, false, 1704164645, "cn=V1,o=Org", [](X509_CRL* crl, std::time_t t) {
                 addEntry(crl, 7, t - 60, -1, nullptr);
                 addEntry(crl, -7, t - 60, -1, nullptr);
             }));
        save(folder, "generalized-time",
             custom(ca, true, 2556143999, "cn=Late", [](X509_CRL* crl, std::time_t t) {
                 require(X509_CRL_set1_nextUpdate(crl, time(t + 86400).get()) == 1, "next");
                 addEntry(crl, 0, t - 60, 1, nullptr);
             }));
        save(folder, "indirect-and-removed",
             custom(ca, true, 1704164645, "cn=Indirect", [](X509_CRL* crl, std::time_t t) {
                 labpki::NamePtr other = labpki::parseName("cn=Other CA");
                 addEntry(crl, 10, t - 60, 8, nullptr);
                 addEntry(crl, 11, t - 60, -1, other.get());
                 addEntry(crl, 12, t - 60, 1, nullptr);
             }));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
