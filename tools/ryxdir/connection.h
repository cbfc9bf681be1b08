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
    std::string host = "localhost";
    int port = 389;
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
};

extern const cmdline::Option kConnectionOptions[];

// Hands the TLS and attribute-name settings to the toolkit LDAP library; runs
// before the plug-in loads.
void configureLdapLibrary(const ConnectionSettings& settings);

}  // namespace ryxdir

#endif
