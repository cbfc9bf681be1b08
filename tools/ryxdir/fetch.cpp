// The commands that fetch objects: ca, user, crl, arl and url.
#include "directory.h"
#include "handlers.h"
#include "status.h"

namespace ryxdir {

namespace {

int found(int count) {
    if (count == 0) {
        note("nothing found");
        return EXIT_NONE;
    }
    return EXIT_FOUND;
}

int certificatesOf(Settings& s, Output& out, CertStack (Directory::*fetch)(const RYXASNx500Name&)) {
    const RYXASNx500Name name = parseName(s.operand);
    Directory directory(s);
    CertStack certs = (directory.*fetch)(name);
    writeCertificates(out, certs.get());
    return found(sk_X509_num(certs.get()));
}

int listsOf(Settings& s, Output& out, CrlStack (Directory::*fetch)(const RYXASNx500Name&)) {
    const RYXASNx500Name name = parseName(s.operand);
    Directory directory(s);
    CrlStack crls = (directory.*fetch)(name);
    writeCrls(out, crls.get());
    return found(sk_X509_CRL_num(crls.get()));
}

}  // namespace

int runCa(Settings& s, Output& out) {
    return certificatesOf(s, out, &Directory::caCertificates);
}

int runUser(Settings& s, Output& out) {
    return certificatesOf(s, out, &Directory::userCertificates);
}

int runCrl(Settings& s, Output& out) {
    return listsOf(s, out, &Directory::crls);
}

int runArl(Settings& s, Output& out) {
    return listsOf(s, out, &Directory::arls);
}

int runUrl(Settings& s, Output& out) {
    Directory directory(s);
    CrlStack crls = directory.viaUri(s.operand);
    writeCrls(out, crls.get());
    return found(sk_X509_CRL_num(crls.get()));
}

}  // namespace ryxdir
