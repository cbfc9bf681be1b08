// The table of commands.
#include "cli.h"
#include "handlers.h"

namespace ryxdir {

const Command kCommands[] = {
    {"ca", "NAME", "CA certificates of an entry", "pem der text json", Format::Pem, runCa},
    {"user", "NAME", "user certificates of an entry and the entries below it", "pem der text json",
     Format::Pem, runUser},
    {"crl", "NAME", "certificate revocation lists of an issuer", "pem der text json", Format::Pem,
     runCrl},
    {"arl", "NAME", "authority revocation lists of an issuer, then its CRLs", "pem der text json",
     Format::Pem, runArl},
    {"url", "LDAP-URL", "revocation lists at an LDAP URL", "pem der text json", Format::Pem,
     runUrl},
    {"check", nullptr, "bind to the server and unbind", "text json pem der", Format::Text,
     runCheck},
    {"verify", "CERT-FILE",
     "validate a certificate (PEM or DER): chain and revocation lists from the\n"
     "directory, decision by OpenSSL",
     "text json", Format::Text, runVerify},
    {"loaded-from", nullptr, "the file the plug-in was loaded from", "text json pem der",
     Format::Text, runLoadedFrom},
    {nullptr, nullptr, nullptr, nullptr, Format::Text, nullptr},
};

}  // namespace ryxdir
