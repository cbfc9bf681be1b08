// The general connection options and their hand-over to the LDAP library.
#include "connection.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "commands.h"
#include "hosts.h"
#include "password.h"
#include "ryxldapconfig.h"
#include "ryxldapptr.h"
#include "ryxtrace.h"
#include "status.h"
#include "terminal.h"

namespace ryxdir {

namespace {

void setHost(Settings& s, const char* v) {
    checkHostList(v);
    s.connection.host = v;
    s.connection.serverGiven = true;
}
void setPort(Settings& s, const char* v) {
    s.connection.port = cmdline::integer(v, "port", 1, 65535);
    s.connection.serverGiven = true;
}
void setBindDN(Settings& s, const char* v) {
    s.connection.bindDN = v;
}
void simpleBind(Settings&, const char*) {}
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
void setTimeout(Settings& s, const char* v) {
    s.connection.timeout = cmdline::integer(v, "timeout", 0, RYX_LDAP_MAX_SECONDS);
}
void setDeadline(Settings& s, const char* v) {
    s.connection.deadline = cmdline::integer(v, "deadline", 0, RYX_LDAP_MAX_SECONDS);
}
void setVerbose(Settings& s, const char*) {
    s.connection.verbose = true;
}

bool traced() {
    const RYXTrace* t = RYXTrace::s_defaultTracePtr;
    return t != nullptr && t->isEnabled(RYX_TRACE_COMP_LOAD, RYX_TRACE_LEVEL_ERROR);
}

// One line in the trace, and with -v on standard error.
void tell(const ConnectionSettings& s, const std::string& text) {
    if (s.verbose) {
        std::cerr << "ryxdir: " << text << "\n";
    }
    if (traced()) {
        RYXTrace::s_defaultTracePtr->write(RYX_TRACE_COMP_LOAD, __FILE__, __LINE__,
                                           RYX_TRACE_LEVEL_ERROR, text.data(), text.size());
    }
}

// An option of OpenLDAP's configuration: its value and where it came from.
bool configured(const char* option, std::string* value, std::string* origin) {
    char *v = nullptr, *o = nullptr;
    const int rc = ryx_ldap_conf_option(option, &v, &o);
    const ryx::UniquePtr<char, ryx::RyxMemfree> ownedValue(v), ownedOrigin(o);
    if (rc != 0 || !ownedValue || !ownedOrigin) {
        return false;
    }
    *value = v;
    *origin = o;
    return true;
}

// Where the CA certificates that verify the server come from.
std::string caOrigin(const ConnectionSettings& s) {
    std::string file, origin;
    if (!s.caCertFile.empty()) {
        return s.caCertFile + " from the command line (--cacert)";
    }
    if (configured("TLS_CACERT", &file, &origin)) {
        return file + " from " + origin;
    }
    if (configured("TLS_CACERTDIR", &file, &origin)) {
        return file + " from " + origin;
    }
    return "from the system's store (default)";
}

// Called by the library when a connection goes on in clear text; warns once.
void warnClearText(void*, const char* text) {
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) {
        warn(text);
    }
}
void setQuiet(Settings& s, const char*) {
    s.quiet = true;
    ryxdir::setQuiet(true);
}

}  // namespace

const cmdline::Option kConnectionOptions[] = {
    {"-H", "HOST",
     "server host(s), blank-separated, each HOST, HOST:PORT or [IPV6]:PORT;\n"
     "URI: every URL names its own (default, without -H and -p: URI of ldap.conf,\n"
     "ldaprc, LDAPCONF, LDAPRC or LDAPURI, as OpenLDAP's tools read them; else\n"
     "localhost)",
     set<setHost>},
    {"-p", "PORT", "server port (default 389)", set<setPort>},
    {"-D", "DN", "bind DN (default: anonymous bind)", set<setBindDN>},
    {"-x", nullptr, "simple bind: the only kind there is; accepted as OpenLDAP's tools take it",
     set<simpleBind>},
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
    {"--timeout", "SECONDS",
     "give up on a server silent that long, also while connecting (0: no bound;\n"
     "default 60, or RYX_LDAP_TIMEOUT)",
     set<setTimeout>},
    {"--deadline", "SECONDS",
     "give up on an operation that takes longer in all (0: no bound; default\n"
     "600, or RYX_LDAP_DEADLINE)",
     set<setDeadline>},
    {"-v", nullptr, "say on standard error where the server and TLS settings came from",
     set<setVerbose>},
    {"-L", "PATH", "LDAP C API library to load (default: the toolkit's own)", set<setDriver>},
    {"-q", nullptr, "quiet: no progress of long transfers on a terminal, no warnings",
     set<setQuiet>},
    {nullptr, nullptr, nullptr, nullptr},
};

void settleServer(ConnectionSettings& s) {
    if (s.settled) {
        return;
    }
    s.settled = true;
    std::string origin = "from the command line", uris, where;
    if (!s.serverGiven) {
        origin = "(default)";
        if (configured("URI", &uris, &where)) {
            s.host = uris;
            origin = "from " + where;
        }
    }
    if (s.verbose || traced()) {
        tell(s, "server " + describeTargets(s.host, s.port) + " " + origin);
        tell(s, "TLS CA certificates " + caOrigin(s));
    }
}

void configureLdapLibrary(const ConnectionSettings& s) {
    using StartTls = ConnectionSettings::StartTls;
    ryx_ldap_config c{};
    c.size = sizeof c;
    c.set = RYX_LDAP_SET_STARTTLS | RYX_LDAP_SET_NOTICE;
    c.starttls = s.startTls == StartTls::Off   ? RYX_LDAP_STARTTLS_OFF
                 : s.startTls == StartTls::Try ? RYX_LDAP_STARTTLS_TRY
                                               : RYX_LDAP_STARTTLS_REQUIRE;
    c.notice = warnClearText;
    // Folding is on unless turned off here or by the user's own variable.
    if (!s.foldBinary || std::getenv(RYX_LDAP_FOLD_BINARY_VARIABLE) == nullptr) {
        c.set |= RYX_LDAP_SET_FOLD_BINARY;
        c.fold_binary = s.foldBinary ? 1 : 0;
    }
    if (!s.caCertFile.empty()) {
        c.set |= RYX_LDAP_SET_CACERT;
        c.cacert = s.caCertFile.c_str();
    }
    if (s.timeout >= 0) {
        c.set |= RYX_LDAP_SET_TIMEOUT | RYX_LDAP_SET_NETWORK_TIMEOUT;
        c.timeout = c.network_timeout = s.timeout;
    }
    if (s.deadline >= 0) {
        c.set |= RYX_LDAP_SET_DEADLINE;
        c.deadline = s.deadline;
    }
    const int rc = ryx_ldap_configure(&c);
    if (rc != 0) {
        fail(EXIT_PLUGIN,
             std::string("cannot configure the LDAP library: ") + ryx_ldap_err2string(rc));
    }
}

}  // namespace ryxdir
