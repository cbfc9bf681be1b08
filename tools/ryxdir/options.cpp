// The table of options and what each does to the settings.
#include <openssl/err.h>
#include <openssl/objects.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "hosts.h"
#include "password.h"
#include "ryxopensslptr.h"
#include "status.h"
#include "timetext.h"

namespace ryxdir {

namespace {

int parseInt(const char* text, const char* what, int low, int high) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        usageError(std::string("bad ") + what + " \"" + text + "\"");
    }
    return static_cast<int>(value);
}

void setHost(Settings& s, const char* v) {
    checkHostList(v);
    s.host = v;
}
void setPort(Settings& s, const char* v) {
    s.port = parseInt(v, "port", 1, 65535);
}
void setBindDN(Settings& s, const char* v) {
    s.bindDN = v;
}
void setPassword(Settings& s, const char* v) {
    s.password = Secret(v);
    s.promptPassword = false;
}
void setPasswordFile(Settings& s, const char* v) {
    s.password = readPasswordFile(v);
    s.promptPassword = false;
}
void setPrompt(Settings& s, const char*) {
    s.password.clear();
    s.promptPassword = true;
}
void setProtocol(Settings& s, const char* v) {
    s.protocol = parseInt(v, "protocol version", 2, 3);
}
void setErrorMode(Settings& s, const char* v) {
    s.errorMode = parseInt(v, "error mode", 0, 2);
    s.errorModeGiven = true;
}
void setDriver(Settings& s, const char* v) {
    s.driverPath = v;
}
void setStartTlsTry(Settings& s, const char*) {
    if (s.startTls != Settings::StartTls::Require) {
        s.startTls = Settings::StartTls::Try;
    }
}
void setStartTlsRequire(Settings& s, const char*) {
    s.startTls = Settings::StartTls::Require;
}
void setCaCert(Settings& s, const char* v) {
    if (::access(v, R_OK) != 0) {
        usageError(std::string("cannot read CA certificate file \"") + v +
                   "\": " + std::strerror(errno));
    }
    s.caCertFile = v;
}
void setNoFold(Settings& s, const char*) {
    s.foldBinary = false;
}
void setFormat(Settings& s, const char* v) {
    const std::string name = v;
    if (name != "pem" && name != "der" && name != "text" && name != "json") {
        usageError("unknown format \"" + name + "\"");
    }
    s.formatName = name;
}
void setOutDir(Settings& s, const char* v) {
    s.outDir = v;
}
void setHelp(Settings& s, const char*) {
    s.help = true;
}
void setBatch(Settings& s, const char*) {
    s.batch = true;
}
void setStopOnError(Settings& s, const char*) {
    s.stopOnError = true;
}
void setTrust(Settings& s, const char* v) {
    s.trustFile = v;
}
void setCrlOptional(Settings& s, const char*) {
    s.crlOptional = true;
}
void setAt(Settings& s, const char* v) {
    if (!parseTime(v, s.at)) {
        usageError(std::string("bad time \"") + v +
                   "\": give YYYY-MM-DDTHH:MM:SSZ or seconds since 1970");
    }
    s.atGiven = true;
}

void addPolicy(Settings& s, const char* v) {
    ryx::UniquePtr<ASN1_OBJECT> oid(OBJ_txt2obj(v, 1));
    ERR_clear_error();
    if (!oid) {
        usageError(std::string("bad policy \"") + v + "\": give a dotted OID");
    }
    s.policies.emplace_back(v);
}
void setExplicitPolicy(Settings& s, const char*) {
    s.explicitPolicy = true;
}
void setCache(Settings& s, const char* v) {
    s.cacheDir = v;
}

}  // namespace

const Option kOptions[] = {
    {"-H", "HOST", nullptr,
     "server host(s), blank-separated, each HOST, HOST:PORT or [IPV6]:PORT;\n"
     "URI: every URL names its own (default localhost)",
     setHost},
    {"-p", "PORT", nullptr, "server port (default 389)", setPort},
    {"-D", "DN", nullptr, "bind DN (default: anonymous bind)", setBindDN},
    {"-w", "PASSWORD", nullptr, "bind password (visible to other users: prefer -y or -W)",
     setPassword},
    {"-y", "FILE", nullptr, "read the bind password from FILE (first line)", setPasswordFile},
    {"-W", nullptr, nullptr, "ask for the bind password on the terminal", setPrompt},
    {"-P", "2|3", nullptr, "LDAP protocol version (default 3)", setProtocol},
    {"-e", "MODE", nullptr,
     "error mode: 0 report every failure (default; verify: 1), 1 treat a\n"
     "missing entry as empty, 2 never fail a search",
     setErrorMode},
    {"-Z", nullptr, nullptr,
     "StartTLS; clear text only when the server does not offer it (ldaps:// hosts\n"
     "in -H use TLS from the start)",
     setStartTlsTry},
    {"-ZZ", nullptr, nullptr, "StartTLS, required: no bind or search without a verified server",
     setStartTlsRequire},
    {"--cacert", "FILE", nullptr,
     "CA certificates (PEM) that verify the server (default: TLS_CACERT of\n"
     "ldap.conf or LDAPTLS_CACERT, else the system's store)",
     setCaCert},
    {"--no-fold-binary", nullptr, nullptr,
     "report NAME;binary values under that name (default: as NAME when NAME was\n"
     "asked for, so certificates are found in directories that add ;binary)",
     setNoFold},
    {"-L", "PATH", nullptr, "LDAP C API library to load (default: the toolkit's own)", setDriver},
    {"-f", "FORMAT", nullptr,
     "pem (default for objects), der (needs -o), text (default otherwise) or json", setFormat},
    {"-o", "DIR", nullptr, "with -f der: write one file per object into DIR", setOutDir},
    {"--batch", nullptr, nullptr,
     "read the command's operands from standard input, one a line, and write\n"
     "one result line each (text: status, operand and result between tabs; or\n"
     "-f json); one connection for all; exit status: the highest of the lines'",
     setBatch},
    {"--stop-on-error", nullptr, nullptr, "with --batch: stop at the first line that fails",
     setStopOnError},
    {"-h", nullptr, nullptr, "this help", setHelp},
    {"--help", nullptr, nullptr, nullptr, setHelp},
    {"--trust", "FILE", "verify", "trust anchors, a PEM bundle (default: the system's store)",
     setTrust},
    {"--crl-optional", nullptr, "verify", "a certificate without a CRL is a warning, not a failure",
     setCrlOptional},
    {"--at", "TIME", "verify",
     "validate at TIME: YYYY-MM-DDTHH:MM:SSZ or seconds since 1970 (default now)", setAt},
    {"--policy", "OID", "verify",
     "an acceptable certificate policy (repeatable); turns policy checking on", addPolicy},
    {"--explicit-policy", nullptr, "verify", "every certificate of the path must name a policy",
     setExplicitPolicy},
    {"--cache", "DIR", "verify",
     "keep fetched revocation lists in DIR for later runs (checked again when read)", setCache},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace ryxdir
