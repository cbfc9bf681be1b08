// The table of commands.
#include "cli.h"
#include "handlers.h"

namespace ryxdir {

const Command kCommands[] = {
    {"ca", "NAME", "CA certificates of an entry", "pem der text json", Format::Pem, runFetch,
     fetchCa},
    {"user", "NAME", "user certificates of an entry and the entries below it", "pem der text json",
     Format::Pem, runFetch, fetchUser},
    {"crl", "NAME", "certificate revocation lists of an issuer", "pem der text json", Format::Pem,
     runFetch, fetchCrl},
    {"arl", "NAME", "authority revocation lists of an issuer, then its CRLs", "pem der text json",
     Format::Pem, runFetch, fetchArl},
    {"url", "LDAP-URL", "revocation lists at an LDAP URL", "pem der text json", Format::Pem,
     runFetch, fetchUrl},
    {"check", nullptr, "bind to the server and unbind", "text json pem der", Format::Text, runCheck,
     nullptr},
    {"verify", "CERT-FILE",
     "validate a certificate (PEM or DER): chain and revocation lists from the\n"
     "directory, decision by OpenSSL",
     "text json", Format::Text, runVerify, nullptr},
    {"loaded-from", nullptr, "the file the plug-in was loaded from", "text json pem der",
     Format::Text, runLoadedFrom, nullptr},
    {nullptr, nullptr, nullptr, nullptr, Format::Text, nullptr, nullptr},
};

}  // namespace ryxdir
