// The general connection options and their hand-over to the LDAP library.
#include "connection.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "hosts.h"
#include "password.h"
#include "status.h"
#include "terminal.h"

namespace ryxdir {

namespace {

void setHost(Settings& s, const char* v) {
    checkHostList(v);
    s.connection.host = v;
}
void setPort(Settings& s, const char* v) {
    s.connection.port = cmdline::integer(v, "port", 1, 65535);
}
void setBindDN(Settings& s, const char* v) {
    s.connection.bindDN = v;
}
void setPassword(Settings& s, const char* v) {
    s.connection.password = Secret(v);
    s.connection.promptPassword = false;
}
void setPasswordFile(Settings& s, const char* v) {
    s.connection.password = readPasswordFile(v);
    s.connection.promptPassword = false;
}
void setPrompt(Settings& s, const char*) {
    s.connection.password.clear();
    s.connection.promptPassword = true;
}
void setProtocol(Settings& s, const char* v) {
    s.connection.protocol = cmdline::integer(v, "protocol version", 2, 3);
}
void setErrorMode(Settings& s, const char* v) {
    s.connection.errorMode = cmdline::integer(v, "error mode", 0, 2);
    s.connection.errorModeGiven = true;
}
void setDriver(Settings& s, const char* v) {
    s.connection.driverPath = v;
}
// Once: try; twice (-ZZ): require.
void setStartTls(Settings& s, const char*) {
    using StartTls = ConnectionSettings::StartTls;
    s.connection.startTls =
        s.connection.startTls == StartTls::Off ? StartTls::Try : StartTls::Require;
}
void setCaCert(Settings& s, const char* v) {
    if (::access(v, R_OK) != 0) {
        usageError(std::string("cannot read CA certificate file \"") + v +
                   "\": " + std::strerror(errno));
    }
    s.connection.caCertFile = v;
}
void setNoFold(Settings& s, const char*) {
    s.connection.foldBinary = false;
}
void setQuiet(Settings& s, const char*) {
    s.quiet = true;
    ryxdir::setQuiet(true);
}

}  // namespace

const cmdline::Option kConnectionOptions[] = {
    {"-H", "HOST",
     "server host(s), blank-separated, each HOST, HOST:PORT or [IPV6]:PORT;\n"
     "URI: every URL names its own (default localhost)",
     set<setHost>},
    {"-p", "PORT", "server port (default 389)", set<setPort>},
    {"-D", "DN", "bind DN (default: anonymous bind)", set<setBindDN>},
    {"-w", "PASSWORD", "bind password (visible to other users: prefer -y or -W)", set<setPassword>},
    {"-y", "FILE", "read the bind password from FILE (first line)", set<setPasswordFile>},
    {"-W", nullptr, "ask for the bind password on the terminal", set<setPrompt>},
    {"-P", "2|3", "LDAP protocol version (default 3)", set<setProtocol>},
    {"-e", "MODE",
     "error mode: 0 report every failure (default; verify: 1), 1 treat a\n"
     "missing entry as empty, 2 never fail a search",
     set<setErrorMode>},
    {"-Z", nullptr,
     "StartTLS; clear text only when the server does not offer it (ldaps:// hosts\n"
     "in -H use TLS from the start); twice (-ZZ): required, no bind or search\n"
     "without a verified server",
     set<setStartTls>},
    {"--cacert", "FILE",
     "CA certificates (PEM) that verify the server (default: TLS_CACERT of\n"
     "ldap.conf or LDAPTLS_CACERT, else the system's store)",
     set<setCaCert>},
    {"--no-fold-binary", nullptr,
     "report NAME;binary values under that name (default: as NAME when NAME was\n"
     "asked for, so certificates are found in directories that add ;binary)",
     set<setNoFold>},
    {"-L", "PATH", "LDAP C API library to load (default: the toolkit's own)", set<setDriver>},
    {"-q", nullptr, "quiet: no progress of long transfers on a terminal, no warnings",
     set<setQuiet>},
    {nullptr, nullptr, nullptr, nullptr},
};

// The library reads these from the environment when it opens a connection.
// OpenLDAP reads LDAPTLS_CACERT once, at its first use. The folding default
// leaves a RYX_LDAP_FOLD_BINARY of the user's own alone.
void configureLdapLibrary(const ConnectionSettings& s) {
    using StartTls = ConnectionSettings::StartTls;
    if (s.startTls != StartTls::Off) {
        setenv("RYX_LDAP_STARTTLS", s.startTls == StartTls::Try ? "try" : "require", 1);
    }
    if (!s.caCertFile.empty()) {
        setenv("LDAPTLS_CACERT", s.caCertFile.c_str(), 1);
    }
    if (s.foldBinary) {
        setenv("RYX_LDAP_FOLD_BINARY", "1", 0);
    } else {
        setenv("RYX_LDAP_FOLD_BINARY", "0", 1);
    }
}

}  // namespace ryxdir
