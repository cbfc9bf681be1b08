// ryxdir: fetches certificates and revocation lists from an LDAP directory
// through the toolkit's directory plug-in, the way the toolkit itself does:
// the plug-in is loaded by the library manager, its registered entry function
// is called with the connection information, and the manager it returns is
// asked for the objects.
#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"

namespace {

// Exit statuses, one per kind of outcome.
enum ExitStatus {
    EXIT_FOUND = 0,      // at least one object written, or the connection is valid
    EXIT_NONE = 1,       // the directory answered but held nothing to return
    EXIT_USAGE = 2,      // bad command line or argument
    EXIT_PLUGIN = 3,     // the plug-in could not be loaded or made no manager
    EXIT_DIRECTORY = 4,  // the directory operation failed
    EXIT_OUTPUT = 5,     // an object could not be written out
};

const char* const kUsage =
    "usage: ryxdir [options] ca|user|crl|arl NAME\n"
    "       ryxdir [options] url LDAP-URL\n"
    "       ryxdir [options] check\n"
    "       ryxdir loaded-from\n"
    "options:\n"
    "  -H HOST      server host(s), blank-separated; \"URI\" for URLs that name theirs"
    " (default localhost)\n"
    "  -p PORT      server port (default 389)\n"
    "  -D DN        bind DN (default: anonymous bind)\n"
    "  -w PASSWORD  bind password\n"
    "  -y FILE      read the bind password from FILE (first line)\n"
    "  -P 2|3       LDAP protocol version (default 3)\n"
    "  -e MODE      error mode: 0 report every failure (default), 1 treat a missing\n"
    "               entry as empty, 2 never fail a search\n"
    "  -L PATH      LDAP C API library to load (default: the toolkit's own)\n"
    "  -f FORMAT    pem (default), der (needs -o) or text\n"
    "  -o DIR       with -f der: write one file per object into DIR\n"
    "  -h           this help\n"
    "NAME is a distinguished name as written in LDAP (\"CN=CA,O=Example,C=DE\").\n"
    "Exit status: 0 found, 1 nothing found, 2 usage, 3 plug-in, 4 directory, 5 output.\n";

struct Options {
    std::string host = "localhost";
    int port = 389;
    std::string bindDN;
    std::string password;
    int protocol = 3;
    int errorMode = 0;
    std::string driverPath;
    std::string format = "pem";
    std::string outDir;
    std::string command;
    std::string argument;
};

// A one-line error, prefixed with the program name.
int fail(int status, const std::string& text) {
    std::cerr << "ryxdir: " << text << "\n";
    return status;
}

struct UsageError {
    std::string text;
};

int parseInt(const char* text, const char* what, int low, int high) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high) {
        throw UsageError{std::string("bad ") + what + " \"" + text + "\""};
    }
    return static_cast<int>(value);
}

std::string readPasswordFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw UsageError{"cannot read password file \"" + path + "\": " + std::strerror(errno)};
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

Options parseOptions(int argc, char** argv) {
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.size() < 2 || a[0] != '-') {
            break;
        }
        if (a == "-h" || a == "--help") {
            o.command = "help";
            return o;
        }
        if (a.size() != 2 || std::strchr("HpDwyPeLfo", a[1]) == nullptr) {
            throw UsageError{"unknown option \"" + a + "\""};
        }
        if (i + 1 >= argc) {
            throw UsageError{"option " + a + " needs a value"};
        }
        const char* v = argv[++i];
        switch (a[1]) {
            case 'H':
                o.host = v;
                break;
            case 'p':
                o.port = parseInt(v, "port", 1, 65535);
                break;
            case 'D':
                o.bindDN = v;
                break;
            case 'w':
                o.password = v;
                break;
            case 'y':
                o.password = readPasswordFile(v);
                break;
            case 'P':
                o.protocol = parseInt(v, "protocol version", 2, 3);
                break;
            case 'e':
                o.errorMode = parseInt(v, "error mode", 0, 2);
                break;
            case 'L':
                o.driverPath = v;
                break;
            case 'f':
                o.format = v;
                break;
            case 'o':
                o.outDir = v;
                break;
        }
    }
    if (i >= argc) {
        throw UsageError{"no command given"};
    }
    o.command = argv[i++];
    const bool takesArgument = o.command == "ca" || o.command == "user" || o.command == "crl" ||
                               o.command == "arl" || o.command == "url";
    const bool takesNone = o.command == "check" || o.command == "loaded-from";
    if (!takesArgument && !takesNone) {
        throw UsageError{"unknown command \"" + o.command + "\""};
    }
    if (takesArgument) {
        if (i >= argc) {
            throw UsageError{"command " + o.command + " needs an argument"};
        }
        o.argument = argv[i++];
    }
    if (i < argc) {
        throw UsageError{std::string("unexpected argument \"") + argv[i] + "\""};
    }
    if (o.format != "pem" && o.format != "der" && o.format != "text") {
        throw UsageError{"unknown format \"" + o.format + "\""};
    }
    if (o.format == "der" && o.outDir.empty()) {
        throw UsageError{"format der needs -o DIR"};
    }
    return o;
}

// Keeps the plug-in loaded while the manager it made is in use.
class PluginHandle {
  public:
    PluginHandle() : m_handle(RYXLibraryManager::loadPlugin(RYXString("ryx8drld"))) {}
    ~PluginHandle() { RYXLibraryManager::unloadPlugin(m_handle); }
    PluginHandle(const PluginHandle&) = delete;
    PluginHandle& operator=(const PluginHandle&) = delete;
    void* get() const { return m_handle; }

  private:
    void* m_handle;
};

// Writes the objects of a container in the chosen format.
class Writer {
  public:
    explicit Writer(const Options& o) : m_options(o) {}

    void certificate(const RYXASNx509Certificate& c, size_t index) {
        if (m_options.format == "text") {
            std::cout << "certificate " << index << ": subject=" << rfc2253(c.getSubject())
                      << " issuer=" << rfc2253(c.getIssuer()) << " serial=" << c.getSerialNumber()
                      << " notAfter=" << c.getNotAfter() << "\n";
        } else if (m_options.format == "pem") {
            if (PEM_write_X509(stdout, const_cast<X509*>(c.native())) != 1) {
                throw OutputError{"cannot write certificate " + std::to_string(index)};
            }
        } else {
            writeFile("cert", index, c.getDEREncoding());
        }
    }

    void crl(const RYXASNCertificateList& l, size_t index) {
        if (m_options.format == "text") {
            std::cout << "crl " << index << ": issuer=" << rfc2253(l.getIssuer())
                      << " thisUpdate=" << l.getThisUpdate();
            if (!l.getNextUpdate().empty()) {
                std::cout << " nextUpdate=" << l.getNextUpdate();
            }
            std::cout << " revoked=" << l.getRevokedCount() << "\n";
        } else if (m_options.format == "pem") {
            if (PEM_write_X509_CRL(stdout, const_cast<X509_CRL*>(l.native())) != 1) {
                throw OutputError{"cannot write revocation list " + std::to_string(index)};
            }
        } else {
            writeFile("crl", index, l.getDEREncoding());
        }
    }

    struct OutputError {
        std::string text;
    };

  private:
    static std::string rfc2253(const RYXASNx500Name& name) {
        return RYXASNUtility::getRFC2253String(name, false, RYXASN_STRREP_RFC2253).c_str();
    }

    void writeFile(const char* kind, size_t index, const RYXBuffer& der) {
        std::string path = m_options.outDir + "/" + kind + "-" + std::to_string(index) + ".der";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (out) {
            out.write(reinterpret_cast<const char*>(der.getValue()), der.getLength());
        }
        if (!out || !out.flush()) {
            throw OutputError{"cannot write \"" + path + "\": " + std::strerror(errno)};
        }
        std::cout << path << "\n";
    }

    const Options& m_options;
};

int run(Options& o) {
    if (o.command == "loaded-from") {
        PluginHandle plugin;
        void* address = nullptr;
        if (ryx_get_func_address(plugin.get(), "ryxdrld_loaded_from", &address) != 0) {
            return fail(EXIT_PLUGIN, "the plug-in does not export ryxdrld_loaded_from");
        }
        char* path = reinterpret_cast<char* (*)()>(address)();
        if (path == nullptr) {
            return fail(EXIT_PLUGIN, "the plug-in cannot tell where it was loaded from");
        }
        std::cout << path << "\n";
        std::free(path);
        return EXIT_FOUND;
    }

    // Parse the name before anything is loaded: a typo is a usage error.
    std::unique_ptr<RYXASNx500Name> name;
    if (o.command != "url" && o.command != "check") {
        try {
            name.reset(new RYXASNx500Name(o.argument.c_str()));
        } catch (const RYXException& e) {
            return fail(EXIT_USAGE, "bad distinguished name \"" + o.argument + "\"");
        }
    }

    RYXBuffer password(static_cast<unsigned int>(o.password.size()),
                       reinterpret_cast<const unsigned char*>(o.password.data()));
    RYXDIRConnectInfo::LDAP info(o.host.c_str(), o.port, o.bindDN.c_str(), password,
                                 o.protocol == 3 ? 1 : 0, o.errorMode, o.driverPath.c_str(),
                                 nullptr);
    password.cleanse();
    OPENSSL_cleanse(&o.password[0], o.password.size());

    std::unique_ptr<PluginHandle> plugin;
    std::unique_ptr<RYXDIRManager> manager;
    try {
        plugin.reset(new PluginHandle);
        manager.reset(static_cast<RYXDIRManager*>(
            RYXLibraryManager::callLibEntry(RYXString("ryx8drld"), &info)));
    } catch (const RYXException& e) {
        return fail(EXIT_PLUGIN, std::string("cannot set up the directory plug-in: ") + e.what());
    }
    if (!manager) {
        return fail(EXIT_PLUGIN, "the directory plug-in returned no manager");
    }

    Writer writer(o);
    try {
        if (o.command == "check") {
            manager->validateConnection();
            std::cout << "connection to " << o.host << ":" << o.port << " is valid\n";
            return EXIT_FOUND;
        }
        size_t count = 0;
        if (o.command == "ca" || o.command == "user") {
            std::unique_ptr<RYXASNCertificateContainer> certs(
                o.command == "ca" ? manager->getCACertificates(*name)
                                  : manager->getUserCertificates(*name));
            count = certs ? certs->size() : 0;
            for (size_t i = 0; i < count; ++i) {
                writer.certificate(*certs->getCertificate(i), i);
            }
        } else {
            std::unique_ptr<RYXASNCRLContainer> crls(
                o.command == "crl"   ? manager->getCRLs(*name)
                : o.command == "arl" ? manager->getARLs(*name)
                                     : manager->getViaURI(RYXString(o.argument.c_str())));
            count = crls ? crls->size() : 0;
            for (size_t i = 0; i < count; ++i) {
                writer.crl(*crls->getCRL(i), i);
            }
        }
        if (std::fflush(stdout) != 0 || !std::cout.flush()) {
            return fail(EXIT_OUTPUT, "cannot write to standard output");
        }
        if (count == 0) {
            return fail(EXIT_NONE, "nothing found");
        }
        return EXIT_FOUND;
    } catch (const Writer::OutputError& e) {
        return fail(EXIT_OUTPUT, e.text);
    } catch (const RYXException& e) {
        std::ostringstream text;
        text << "error " << e.getError() << ": " << e.getMessage();
        return fail(EXIT_DIRECTORY, text.str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "ryxdir: " << e.text << "\n" << kUsage;
        return EXIT_USAGE;
    }
    if (options.command == "help") {
        std::cout << kUsage;
        return EXIT_FOUND;
    }
    try {
        return run(options);
    } catch (const RYXException& e) {
        return fail(EXIT_PLUGIN, e.what());
    } catch (const std::exception& e) {
        return fail(EXIT_DIRECTORY, e.what());
    }
}
