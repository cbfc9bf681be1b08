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
    {"verify", "CERT-FILE...",
     "validate certificates (PEM or DER; each file's first, its others offered\n"
     "as intermediates): chain and revocation lists from the directory, decision\n"
     "by OpenSSL",
     "text json", Format::Text, runVerify, nullptr, true},
    {"loaded-from", nullptr, "the file the plug-in was loaded from", "text json pem der",
     Format::Text, runLoadedFrom, nullptr},
    {nullptr, nullptr, nullptr, nullptr, Format::Text, nullptr, nullptr},
};

}  // namespace ryxdir
