// The commands that fetch objects: ca, user, crl, arl and url, each its
// retrieval of one operand, and the handler that runs one. With --batch the
// operands are read from standard input, one a line, and looked up with one
// manager for the whole run, so that a script that checks thousands of entries
// pays the start-up once. Every input line gets one result line; a failed line
// does not end the run unless --stop-on-error says so. The exit status is the
// highest of the lines' statuses (0 for no lines).
#include "batchinput.h"
#include "commands.h"
#include "directory.h"
#include "status.h"

namespace ryxdir {

namespace {

Found fetchCa(Directory& directory, const std::string& name) {
    return Found{directory.caCertificateObjects(parseName(name)), nullptr};
}

Found fetchUser(Directory& directory, const std::string& name) {
    return Found{directory.userCertificateObjects(parseName(name)), nullptr};
}

Found fetchCrl(Directory& directory, const std::string& name) {
    return Found{nullptr, directory.crlObjects(parseName(name))};
}

Found fetchArl(Directory& directory, const std::string& name) {
    return Found{nullptr, directory.arlObjects(parseName(name))};
}

Found fetchUrl(Directory& directory, const std::string& url) {
    return Found{nullptr, directory.uriObjects(url)};
}

// The retrieval of one operand, its failure kept as the line's result.
// Failures that no other line can escape (the plug-in, the output) end the run.
int lookUp(const Command& command, Directory& directory, const std::string& operand,
           std::string& why, Found& found) {
    try {
        found = command.fetch(directory, operand);
        return found.count() == 0 ? EXIT_NONE : EXIT_FOUND;
    } catch (const Failure& f) {
        if (f.status == EXIT_PLUGIN || f.status == EXIT_OUTPUT) {
            throw;
        }
        why = f.message;
        return f.status;
    }
}

int runFetch(Settings& s, Output& out) {
    Directory directory(s);  // the plug-in is loaded when the operand is read
    const Found found = s.command->fetch(directory, s.operand);
    writeFound(out, found);
    if (found.count() == 0) {
        note("nothing found");
        return EXIT_NONE;
    }
    return EXIT_FOUND;
}

}  // namespace

int runBatch(Settings& s, Output& out) {
    Directory directory(s);
    directory.open();
    return eachInputLine(s, out, [&](const std::string& operand, std::string& why) {
        Found found;
        const int status = lookUp(*s.command, directory, operand, why, found);
        const bool failed = status != EXIT_FOUND && status != EXIT_NONE;
        out.resultLine(operand, status, why, failed ? nullptr : &found);
        return status;
    });
}

const Command kCaCommand = {{"ca", "NAME", "CA certificates of an entry", nullptr, false},
                            "pem der text json",
                            Format::Pem,
                            runFetch,
                            fetchCa};
const Command kUserCommand = {
    {"user", "NAME", "user certificates of an entry and the entries below it", nullptr, false},
    "pem der text json",
    Format::Pem,
    runFetch,
    fetchUser};
const Command kCrlCommand = {
    {"crl", "NAME", "certificate revocation lists of an issuer", nullptr, false},
    "pem der text json",
    Format::Pem,
    runFetch,
    fetchCrl};
const Command kArlCommand = {
    {"arl", "NAME", "authority revocation lists of an issuer, then its CRLs", nullptr, false},
    "pem der text json",
    Format::Pem,
    runFetch,
    fetchArl};
const Command kUrlCommand = {{"url", "LDAP-URL", "revocation lists at an LDAP URL", nullptr, false},
                             "pem der text json",
                             Format::Pem,
                             runFetch,
                             fetchUrl};

}  // namespace ryxdir
