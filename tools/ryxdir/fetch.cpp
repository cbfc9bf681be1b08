// The commands that fetch objects: ca, user, crl, arl and url, each its
// retrieval of one operand, and the handler that runs one.
#include "cli.h"
#include "directory.h"
#include "handlers.h"
#include "status.h"

namespace ryxdir {

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

}  // namespace ryxdir
