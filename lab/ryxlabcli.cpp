#include "ryxlabcli.h"

namespace ryxlab {

namespace {

void setPort(Settings& s, const char* v) {
    s.port = cmdline::integer(v, "port", 1, 65535);
}

const cmdline::Option kStartOptions[] = {
    {"--port", "PORT", "the server's port on 127.0.0.1 (default: a free one)",
     &cmdline::applyTo<Settings, setPort>},
    {nullptr, nullptr, nullptr, nullptr},
};

const cmdline::Command kStart = {
    "start", "DIR",
    "starts a demo directory (slapd on 127.0.0.1) loaded with a sample PKI,\n"
    "and writes its files into DIR (absent or empty); the server keeps running\n"
    "until `ryxlab stop DIR`",
    kStartOptions, false};
const cmdline::Command kStop = {"stop", "DIR", "stops the server and removes what start made",
                                nullptr, false};
const cmdline::Command kStatus = {"status", "DIR", "tells whether the server runs", nullptr, false};

const char* const kDescription =
    "ryxlab runs a throwaway LDAP directory for trying ryxdir: a slapd on a loopback\n"
    "port, loaded with a sample PKI (a root CA, an issuing CA, two users, their\n"
    "revocation lists), that keeps running after ryxlab exits. start writes into DIR\n"
    "what a user needs to reach it: the certificates, the administrator's password\n"
    "file and an env file to source.\n";

}  // namespace

const cmdline::Program& program() {
    static const cmdline::Program p = [] {
        cmdline::Program q;
        q.name = "ryxlab";
        q.version = RYX_VERSION;
        q.summary = "a demo LDAP directory with a sample PKI";
        q.description = kDescription;
        q.commands = {&kStart, &kStop, &kStatus};
        q.notes = "";
        q.statuses = {{"0", "done, or running"},
                      {"1", "not running, or no demo directory in DIR"},
                      {"2", "usage"},
                      {"3", "DIR unusable: not empty, in use or not writable"},
                      {"4", "the server is missing, did not start or stop, or refused the sample"},
                      {"128+N", "start interrupted by signal N"}};
        q.files = {{"DIR/env",
                    "RYX_LAB_HOST, RYX_LAB_PORT, RYX_LAB_URL, RYX_LAB_OPTS and more,\n"
                    "for a POSIX shell"},
                   {"DIR/root.pem", "the sample PKI's trust anchor"},
                   {"DIR/admin.pw", "the directory administrator's password"}};
        q.examples = {{"ryxlab start /tmp/lab && . /tmp/lab/env",
                       "Start a demo directory and take its settings:"},
                      {"ryxdir $RYX_LAB_OPTS verify --trust /tmp/lab/root.pem /tmp/lab/alice.pem",
                       "Validate a sample certificate with it:"},
                      {"ryxlab stop /tmp/lab", "Stop it and remove its files:"}};
        q.seeAlso = "ryxdir(1), slapd(8)";
        return q;
    }();
    return p;
}

}  // namespace ryxlab
