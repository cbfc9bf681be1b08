// check: bind to the server with the given credentials, and unbind.
#include "directory.h"
#include "handlers.h"
#include "hosts.h"
#include "status.h"

namespace ryxdir {

int runCheck(Settings& s, Output& out) {
    const std::string target = describeTargets(s.host, s.port);
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

}  // namespace ryxdir
