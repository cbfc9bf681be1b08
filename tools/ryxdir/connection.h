// The connection: the options every command takes to reach the directory
// (hosts, bind, TLS, the LDAP library) and what turns them into settings of
// the toolkit LDAP library.
#ifndef RYXDIR_CONNECTION_H
#define RYXDIR_CONNECTION_H

#include <string>

#include "cmdline.h"
#include "secret.h"

namespace ryxdir {

struct ConnectionSettings {
    // The server: -H and -p, else OpenLDAP's configuration (see settleServer).
    std::string host = "localhost";
    int port = 389;
    bool serverGiven = false;  // -H or -p
    bool settled = false;      // settleServer ran
    std::string bindDN;
    Secret password;
    bool promptPassword = false;  // -W: ask on the terminal
    int protocol = 3;
    int errorMode = 0;
    bool errorModeGiven = false;
    std::string driverPath;
    // TLS and attribute names, handed to the toolkit LDAP library.
    enum class StartTls { Off, Try, Require } startTls = StartTls::Off;
    std::string caCertFile;  // empty: ldap.conf's TLS_CACERT, else the system's store
    bool foldBinary = true;  // report "NAME;binary" as "NAME" when NAME was asked for
    long timeout = -1;       // --timeout: seconds without data; -1: the library's
    long deadline = -1;      // --deadline: seconds for a whole operation; -1: the library's
    bool verbose = false;    // -v: say where the server and CA settings came from
};

extern const cmdline::Option kConnectionOptions[];

// Without -H and -p, takes the server from OpenLDAP's configuration as its
// tools do (ldap.conf, ldaprc files, LDAPURI, ...), else localhost. With -v,
// says on standard error (and in the trace) where the server and the TLS CA
// certificates come from. Runs once; later calls do nothing.
void settleServer(ConnectionSettings& settings);

// Hands the TLS, bound and attribute-name settings to the toolkit LDAP library
// and asks it for a warning on standard error when a connection goes on in
// clear text under -Z; runs before the plug-in loads. A setting the library
// refuses ends the command with status 3.
void configureLdapLibrary(const ConnectionSettings& settings);

}  // namespace ryxdir

#endif
