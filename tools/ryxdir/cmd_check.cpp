// check: bind to the server with the given credentials, and unbind.
#include "commands.h"
#include "directory.h"
#include "hosts.h"
#include "status.h"

namespace ryxdir {

namespace {

int runCheck(Settings& s, Output& out) {
    settleServer(s.connection);
    const std::string target = describeTargets(s.connection.host, s.connection.port);
    Directory directory(s);
    try {
        directory.validate();
    } catch (const Failure& f) {
        fail(f.status, f.message + " (server " + target + ")");
    }
    if (out.json()) {
        out.document().member("target", target);
        out.document().member("valid", true);
    } else {
        out.line("connection to " + target + " is valid");
    }
    return EXIT_FOUND;
}

}  // namespace

const Command kCheckCommand = {{"check", nullptr, "bind to the server and unbind", nullptr, false},
                               "text json pem der",
                               Format::Text,
                               runCheck,
                               nullptr};

}  // namespace ryxdir
