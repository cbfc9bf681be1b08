// The commands that fetch objects: ca, user, crl, arl and url, each its
// retrieval of one operand, and the handler that runs one. With --batch the
// operands are read from standard input, one a line, and looked up with one
// manager for the whole run, so that a script that checks thousands of entries
// pays the start-up once. Every input line gets one result line; a failed line
// does not end the run unless --stop-on-error says so. The exit status is the
// highest of the lines' statuses (0 for no lines).
#include <strings.h>

#include <cstring>
#include <sstream>

#include "batchinput.h"
#include "commands.h"
#include "describe.h"
#include "directory.h"
#include "names.h"
#include "status.h"

namespace ryxdir {

namespace {

// The ARLs' retrieval returns the authority lists first and then the lists
// that the CRLs' retrieval returns. Those are looked up once more and matched
// from the end, so each list is labelled by the attribute it came from: what
// a list holds (an issuing distribution point for CA certificates only) is
// optional in an ARL and allowed in a CRL, so it could not tell them apart.
size_t authorityListCount(const RYXASNCRLContainer& all, const RYXASNCRLContainer& crls) {
    size_t matched = 0;
    while (matched < crls.size() && matched < all.size()) {
        const RYXASNCBuffer a = all.getCRL(all.size() - 1 - matched)->getDERView();
        const RYXASNCBuffer c = crls.getCRL(crls.size() - 1 - matched)->getDERView();
        if (a.getLength() != c.getLength() ||
            std::memcmp(a.getData(), c.getData(), a.getLength()) != 0) {
            break;
        }
        ++matched;
    }
    return all.size() - matched;
}

Found fetchNamed(const Command& command, Directory& directory, const RYXASNx500Name& name) {
    if (&command == &kCaCommand) {
        return Found{directory.caCertificateObjects(name), nullptr};
    }
    if (&command == &kUserCommand) {
        return Found{directory.userCertificateObjects(name), nullptr};
    }
    if (&command == &kCrlCommand) {
        return Found{nullptr, directory.crlObjects(name)};
    }
    Found found{nullptr, directory.arlObjects(name)};
    found.authority = true;
    if (found.crls->size() > 0) {
        found.authorityLists = authorityListCount(*found.crls, *directory.crlObjects(name));
    }
    return found;
}

Found fetchCa(Directory& directory, const std::string& name) {
    return fetchNamed(kCaCommand, directory, operandName(name));
}

Found fetchUser(Directory& directory, const std::string& name) {
    return fetchNamed(kUserCommand, directory, operandName(name));
}

Found fetchCrl(Directory& directory, const std::string& name) {
    return fetchNamed(kCrlCommand, directory, operandName(name));
}

Found fetchArl(Directory& directory, const std::string& name) {
    return fetchNamed(kArlCommand, directory, operandName(name));
}

// Whether an LDAP URL asks for authority lists only: its attributes (between
// the first and the second '?') are all authorityRevocationList, with or
// without ";binary". Its lists are then ARLs by the attribute they came from.
bool asksForArlsOnly(const std::string& url) {
    const size_t start = url.find('?');
    if (start == std::string::npos) {
        return false;
    }
    std::istringstream attributes(url.substr(start + 1, url.find('?', start + 1) - start - 1));
    bool any = false;
    for (std::string a; std::getline(attributes, a, ',');) {
        if (strcasecmp(a.c_str(), "authorityRevocationList") != 0 &&
            strcasecmp(a.c_str(), "authorityRevocationList;binary") != 0) {
            return false;
        }
        any = true;
    }
    return any;
}

Found fetchUrl(Directory& directory, const std::string& url) {
    Found found{nullptr, directory.uriObjects(url)};
    if (asksForArlsOnly(url)) {
        found.authority = true;
        found.authorityLists = found.crls->size();
    }
    return found;
}

void takeName(Settings& s, const char* path, Whose whose, const char* option) {
    const ryx::UniquePtr<X509_NAME> name = certificateName(path, whose);
    s.name = std::make_shared<const RYXASNx500Name>(name.get());
    s.nameOption = option;
    s.operand = nameText(name.get());
}
void setIssuerOf(Settings& s, const char* path) {
    takeName(s, path, Whose::Issuer, "--issuer-of");
}
void setSubjectOf(Settings& s, const char* path) {
    takeName(s, path, Whose::Subject, "--subject-of");
}

const cmdline::Option kIssuerOfOptions[] = {
    {"--issuer-of", "CERT-FILE",
     "in place of NAME: the issuer of the certificate in CERT-FILE (PEM or DER)", set<setIssuerOf>},
    {nullptr, nullptr, nullptr, nullptr},
};
const cmdline::Option kSubjectOfOptions[] = {
    {"--subject-of", "CERT-FILE",
     "in place of NAME: the subject of the certificate in CERT-FILE (PEM or DER)",
     set<setSubjectOf>},
    {nullptr, nullptr, nullptr, nullptr},
};

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
    const Found found = s.name ? fetchNamed(*s.command, directory, *s.name)
                               : s.command->fetch(directory, s.operand);
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

const Command kCaCommand = {{"ca", "NAME", "CA certificates of an entry", kIssuerOfOptions, false},
                            "pem der text json",
                            Format::Pem,
                            runFetch,
                            fetchCa};
const Command kUserCommand = {
    {"user", "NAME", "user certificates of an entry and the entries below it", kSubjectOfOptions,
     false},
    "pem der text json",
    Format::Pem,
    runFetch,
    fetchUser};
const Command kCrlCommand = {
    {"crl", "NAME", "certificate revocation lists of an issuer", kIssuerOfOptions, false},
    "pem der text json",
    Format::Pem,
    runFetch,
    fetchCrl};
const Command kArlCommand = {
    {"arl", "NAME", "authority revocation lists of an issuer, then its CRLs", kIssuerOfOptions,
     false},
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
