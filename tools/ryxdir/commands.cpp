// The command line of ryxdir: the commands, the output options every command
// takes, and the checks that only the whole command line allows.
#include "commands.h"

#include <sstream>

#include "status.h"

namespace ryxdir {

namespace {

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
void setForce(Settings& s, const char*) {
    s.force = true;
}
void setBatch(Settings& s, const char*) {
    s.batch = true;
}
void setStopOnError(Settings& s, const char*) {
    s.stopOnError = true;
}

const cmdline::Option kOutputOptions[] = {
    {"-f", "FORMAT", "pem (default for objects), der (needs -o), text (default otherwise) or json",
     set<setFormat>},
    {"-o", "DIR",
     "with -f der: write one file per object into DIR, named after what it\n"
     "holds (ca-CN-1.der, crl-CN-NUMBER.der, arl-...)",
     set<setOutDir>},
    {"--force", nullptr, "with -o: replace files that exist (refused otherwise)", set<setForce>},
    {"--batch", nullptr,
     "read the command's operands from standard input, one a line, and write\n"
     "one result line each (text: status, operand and result between tabs; or\n"
     "-f json); one connection for all; exit status: the highest of the lines'",
     set<setBatch>},
    {"--stop-on-error", nullptr, "with --batch: stop at the first line that fails",
     set<setStopOnError>},
    {nullptr, nullptr, nullptr, nullptr},
};

// What the tables do not tell, for -h and the man page.
const char* const kDescription =
    "ryxdir reaches an LDAP directory the way the toolkit does: it loads the toolkit's\n"
    "directory plug-in, hands it the connection settings of the command line, and asks it\n"
    "for certificates and revocation lists. ca, user, crl, arl and url write what they\n"
    "fetch (PEM by default, DER files with -o, text or JSON with -f); check binds and\n"
    "unbinds; verify validates certificates with the chain and the revocation lists\n"
    "found in the directory, the decision made by OpenSSL; loaded-from names the\n"
    "plug-in's file. For the directory's operators, publish writes a revocation list\n"
    "or a certificate after checking it, through the plug-in's own LDAP client, and\n"
    "status judges every revocation list under a base by its next update and\n"
    "signature, also as a monitoring plug-in.\n"
    "\n"
    "The options that OpenLDAP's tools have take the same letters and values: -H, -p, -D,\n"
    "-w, -y, -W, -P, -Z (given twice: required) and -x (binds are always simple).\n"
    "Short options may be grouped (-xWZ) and take their value attached (-p389);\n"
    "\"--\" ends the options.\n";

const std::vector<cmdline::Entry> kStatuses = {
    {"0", "found or valid"},
    {"1", "nothing found"},
    {"2", "usage: a bad command line or argument"},
    {"3", "the plug-in could not be loaded or set up"},
    {"4", "a directory operation failed"},
    {"5", "output could not be written"},
    {"6", "certificate invalid"},
    {"7", "no path to a trust anchor"},
    {"8", "revocation status unavailable"},
    {"9", "publish: the list is not well-formed DER"},
    {"10", "publish: the signature does not verify with a CA certificate of the issuer"},
    {"11", "publish: not newer than the list already published"},
    {"12", "publish: past its next update"},
};

const std::vector<cmdline::Entry> kEnvironment = {
    {"LDAPURI, LDAPHOST, LDAPPORT", "the server when neither -H nor -p is given"},
    {"LDAPCONF", "a configuration file read after the system's, as ldap.conf"},
    {"LDAPRC", "a user file read after ldaprc (HOME/LDAPRC, HOME/.LDAPRC, ./LDAPRC)"},
    {"LDAPNOINIT", "when set, no configuration file or LDAP variable is read"},
    {"LDAPTLS_CACERT", "CA certificates that verify the server, unless --cacert is given"},
    {"RYX_LDAP_TIMEOUT",
     "seconds an operation waits without receiving data (default 60, 0 no bound)"},
    {"RYX_LDAP_NETWORK_TIMEOUT", "seconds a connect may take (default 30)"},
    {"RYX_LDAP_DEADLINE", "seconds an operation may take in all (default 600, 0 no bound)"},
    {"RYX_TRACE, RYX_TRACE_FILE", "the toolkit's trace: on with 1, into the file named"},
    {"RYX_LIBRARY_PATH", "folders searched first for the plug-in, separated by colons"},
    {"OPENSSL_CONF", "OpenSSL's configuration file, instead of the system's"},
};

const std::vector<cmdline::Entry> kFiles = {
    {"/etc/ldap/ldap.conf",
     "URI (the server when neither -H nor -p is given), TLS_CACERT (the CA certificates\n"
     "that verify the server), TLS_REQCERT"},
    {"~/ldaprc, ~/.ldaprc, ./ldaprc", "the user's own settings, read after the system's"},
    {"openssl.cnf", "OpenSSL's configuration, where the openssl command finds it"},
};

const std::vector<cmdline::Entry> kExamples = {
    {"ryxdir -H ldap.example.com ca 'CN=Issuing CA,O=Example,C=DE'",
     "The CA certificates of an entry, in PEM:"},
    {"ryxdir -H ldap.example.com -ZZ -f json crl 'CN=Issuing CA,O=Example,C=DE'",
     "Its revocation lists as JSON, over StartTLS that must succeed:"},
    {"ryxdir -H ldap.example.com verify --trust root.pem alice.pem",
     "Validate a certificate against a trust anchor of one's own:"},
    {"ryxdir -H ldap.example.com --batch -f json user < names.txt",
     "The user certificates of many entries over one connection:"},
    {"ryxdir -H ldap.example.com -xD cn=admin,dc=example,dc=com -W check",
     "Check a bind DN and its password, asked for on the terminal:"},
};

const Command* const kCommands[] = {
    &kCaCommand,    &kUserCommand,   &kCrlCommand,        &kArlCommand,    &kUrlCommand,
    &kCheckCommand, &kVerifyCommand, &kLoadedFromCommand, &kStatusCommand, &kPublishCommand,
};

const Command& commandOf(const cmdline::Command* line) {
    for (const Command* c : kCommands) {
        if (&c->line == line) {
            return *c;
        }
    }
    throw std::logic_error("a command outside the table");
}

bool takesFormat(const Command& command, const std::string& format) {
    std::istringstream in(command.formats);
    for (std::string f; in >> f;) {
        if (f == format) {
            return true;
        }
    }
    return false;
}

Format formatNamed(const std::string& name) {
    return name == "pem"    ? Format::Pem
           : name == "der"  ? Format::Der
           : name == "json" ? Format::Json
                            : Format::Text;
}

// In a batch run the operands come from standard input.
void takeOperands(Settings& s, const std::vector<std::string>& operands) {
    const cmdline::Command& c = s.command->line;
    if (s.name && s.batch) {
        usageError(std::string(s.nameOption) + " names one entry; --batch reads names");
    }
    if (s.name && !operands.empty()) {
        usageError(std::string("give either ") + c.operand + " or " + s.nameOption + ", not both");
    }
    const size_t wanted = c.operand != nullptr && !s.batch && !s.name ? 1 : 0;
    if (operands.size() < wanted) {
        usageError(std::string("command ") + c.name + " needs " + c.operand);
    }
    if (operands.size() > wanted && !(c.manyOperands && wanted == 1)) {
        usageError("unexpected argument \"" + operands[wanted] + "\"");
    }
    if (wanted == 1) {
        s.operand = operands[0];
    }
    s.operands = operands;
}

void chooseFormat(Settings& s) {
    const Command& c = *s.command;
    if (s.batch && (s.formatName == "pem" || s.formatName == "der")) {
        usageError("--batch writes text or json, not " + s.formatName);
    }
    if (s.batch && s.formatName.empty()) {
        s.format = Format::Text;
    } else if (s.formatName.empty()) {
        s.format = c.defaultFormat;
    } else if (!takesFormat(c, s.formatName)) {
        usageError(std::string("command ") + c.line.name + " writes " + c.formats + ", not " +
                   s.formatName);
    } else {
        s.format = formatNamed(s.formatName);
        // Commands that fetch no objects print text for the object formats.
        if (c.defaultFormat != Format::Pem &&
            (s.format == Format::Pem || s.format == Format::Der)) {
            s.format = Format::Text;
        }
    }
    if (s.formatName == "der" && s.outDir.empty()) {
        usageError("format der needs -o DIR");
    }
}

// Checks what only the whole command line tells.
void finishSettings(Settings& s) {
    const Command& c = *s.command;
    if (s.stopOnError && !s.batch) {
        usageError("option --stop-on-error needs --batch");
    }
    if (s.force && s.outDir.empty()) {
        usageError("option --force needs -o");
    }
    if (s.batch && c.fetch == nullptr && !c.line.manyOperands) {
        usageError(std::string("command ") + c.line.name + " has no batch mode");
    }
    chooseFormat(s);
}

}  // namespace

const cmdline::Program& program() {
    static const cmdline::Program p = [] {
        cmdline::Program q;
        q.name = "ryxdir";
        q.version = RYX_VERSION;
        q.general = {kConnectionOptions, kOutputOptions};
        for (const Command* c : kCommands) {
            q.commands.push_back(&c->line);
        }
        q.summary = "fetch certificates and revocation lists from an LDAP directory";
        q.description = kDescription;
        q.notes = "NAME is a distinguished name as written in LDAP (\"CN=CA,O=Example,C=DE\").\n";
        q.statuses = kStatuses;
        q.environment = kEnvironment;
        q.files = kFiles;
        q.examples = kExamples;
        q.valueWords = {{"FORMAT", "pem der text json"}, {"2|3", "2 3"}, {"MODE", "0 1 2"}};
        q.seeAlso = "ldapsearch(1), ldap.conf(5), openssl-verify(1)";
        return q;
    }();
    return p;
}

Settings parseCommandLine(int argc, char** argv) {
    Settings s;
    const cmdline::Parsed parsed = cmdline::parse(program(), argc, argv, &s);
    s.help = parsed.help;
    s.version = parsed.version;
    if (s.help || s.version) {
        return s;
    }
    s.command = &commandOf(parsed.command);
    takeOperands(s, parsed.operands);
    finishSettings(s);
    return s;
}

std::string usageText() {
    return cmdline::usageText(program());
}

}  // namespace ryxdir
