// ryxlab: the demo directory. `ryxlab start DIR` starts a slapd on a free
// loopback port that keeps running after ryxlab exits, loads the sample PKI and
// writes into DIR what a user needs to reach it (certificates, a password file
// and an env file to source); `ryxlab stop DIR` stops it and removes what start
// made; `ryxlab status DIR` tells whether it runs.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "labpki.h"
#include "labsample.h"
#include "labslapd.h"
#include "ryxlabcli.h"

namespace fs = std::filesystem;

namespace {

const char* const kSuffix = "dc=example,dc=com";
const char* const kSchemaFile = "octetstring-pki.schema";
// start's own record in DIR: whether it created DIR, and the server's URL.
const char* const kMarker = ".ryxlab";
// The server's folder inside DIR.
const char* const kServerFolder = "slapd";
// Every file start writes into DIR, the marker last so that stop finds it
// until the end.
const char* const kFiles[] = {"root.pem",     "issuing-ca.pem", "alice.pem", "bob.pem", "crl.pem",
                              "next-crl.pem", "admin.pw",       "env",       kMarker};

using cmdline::Failure;
using namespace ryxlab;

volatile sig_atomic_t g_signal = 0;

void onSignal(int signal) {
    g_signal = signal;
}

void checkInterrupted() {
    if (g_signal != 0)
        throw Failure{128 + g_signal, std::string("interrupted by ") + strsignal(g_signal)};
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Creates path (it must not exist) with mode and writes text.
void writeNewFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    cmdline::writeNewFile(path, text, mode, EXIT_FOLDER);
}

// A value for a POSIX shell, in single quotes.
std::string shellQuoted(const std::string& value) {
    std::string out = "'";
    for (char c : value)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The marker's "key=value" lines.
std::string markerValue(const std::string& dir, const std::string& key) {
    std::istringstream in(readFile(dir + "/" + kMarker));
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return std::string();
}

bool hasMarker(const std::string& dir) {
    std::error_code ec;
    return fs::is_regular_file(dir + "/" + kMarker, ec);
}

// The folder of the schema file: share/ryx8 beside the program's bin folder
// (installed, and in the build tree), else the source tree the program was
// built from.
std::string schemaDirectory() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    std::vector<fs::path> candidates;
    if (!ec)
        candidates.push_back(self.parent_path().parent_path() / "share" / "ryx8");
    candidates.emplace_back(RYX_LAB_SCHEMA_DIR);
    for (const fs::path& dir : candidates)
        if (fs::is_regular_file(dir / kSchemaFile, ec))
            return dir.string();
    throw Failure{EXIT_SERVER, std::string("cannot find ") + kSchemaFile + " in " +
                                   candidates.front().string() + " or " + RYX_LAB_SCHEMA_DIR};
}

// Removes what start made in dir; dir itself when start created it. Returns a
// note when dir stays because someone else put files there.
std::string removeLab(const std::string& dir) {
    const bool created = markerValue(dir, "created") == "1";
    std::error_code ec;
    fs::remove_all(dir + "/" + kServerFolder, ec);
    for (const char* name : kFiles)
        fs::remove(dir + "/" + name, ec);
    if (created && !fs::remove(dir, ec) && ec)
        return dir + " stays: it holds files that ryxlab did not make";
    return std::string();
}

// Undoes a start that did not finish: the server stops, the files go. The
// server outlives the guard.
class StartGuard {
  public:
    StartGuard(std::string dir, const std::unique_ptr<LabSlapd>& slapd)
        : m_dir(std::move(dir)), m_slapd(slapd) {}
    ~StartGuard() {
        if (m_done)
            return;
        if (m_slapd)
            m_slapd->stop();
        removeLab(m_dir);
    }
    StartGuard(const StartGuard&) = delete;
    StartGuard& operator=(const StartGuard&) = delete;
    void done() { m_done = true; }

  private:
    std::string m_dir;
    const std::unique_ptr<LabSlapd>& m_slapd;
    bool m_done = false;
};

// The first line of a message, with the first line of slapd's log when there is
// one (the log goes with the folder): errors stay on one line.
std::string serverFailure(const std::string& what, const LabSlapd* slapd) {
    std::string text = what.substr(0, what.find('\n'));
    text = text.substr(0, text.find("; log "));
    if (slapd != nullptr) {
        std::istringstream log(slapd->logTail(200));
        for (std::string line; std::getline(log, line);) {
            const size_t begin = line.find_first_not_of(" \t");
            if (begin != std::string::npos) {
                text += " (slapd: " + line.substr(begin) + ")";
                break;
            }
        }
    }
    return text;
}

std::string envText(const std::string& dir, const LabSlapd& slapd,
                    const labsample::Sample& sample) {
    const std::pair<const char*, std::string> vars[] = {
        {"RYX_LAB_DIR", dir},
        {"RYX_LAB_HOST", slapd.host()},
        {"RYX_LAB_PORT", std::to_string(slapd.port())},
        {"RYX_LAB_URL", slapd.url()},
        {"RYX_LAB_SUFFIX", slapd.suffix()},
        {"RYX_LAB_OPTS", "-H " + slapd.host() + " -p " + std::to_string(slapd.port())},
        {"RYX_LAB_BIND_DN", slapd.rootDN()},
        {"RYX_LAB_PASSWORD_FILE", dir + "/admin.pw"},
        {"RYX_LAB_ROOT_DN", sample.rootDN},
        {"RYX_LAB_CA_DN", sample.caDN},
        {"RYX_LAB_ALICE_DN", sample.aliceDN},
        {"RYX_LAB_BOB_DN", sample.bobDN},
        {"RYX_LAB_CRL_URL", sample.crlURL},
    };
    std::string text;
    for (const auto& [name, value] : vars)
        text += std::string("export ") + name + "=" + shellQuoted(value) + "\n";
    return text;
}

// A port asked for must be free: a server already there would answer the new
// one's readiness check and receive its sample.
void checkPortFree(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw Failure{EXIT_SERVER, std::string("socket: ") + std::strerror(errno)};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const int error = errno;
    ::close(fd);
    if (!free)
        throw Failure{EXIT_SERVER, "cannot use port " + std::to_string(port) +
                                       " on 127.0.0.1: " + std::strerror(error)};
}

int start(const std::string& dir, int port) {
    if (::access(RYX_SLAPD, X_OK) != 0)
        throw Failure{EXIT_SERVER, std::string("cannot run ") + RYX_SLAPD +
                                       " (install the slapd package): " + std::strerror(errno)};
    const std::string schemaDir = schemaDirectory();
    if (port != 0)
        checkPortFree(port);
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);

    std::error_code ec;
    bool created = false;
    if (fs::exists(dir, ec)) {
        if (!fs::is_directory(dir, ec))
            throw Failure{EXIT_FOLDER, dir + " is not a folder"};
        if (hasMarker(dir))
            throw Failure{EXIT_FOLDER, dir + " already holds a demo directory (" +
                                           (LabSlapd::detachedPid(dir + "/" + kServerFolder) > 0
                                                ? "running"
                                                : "not running") +
                                           "): ryxlab stop " + dir + " first"};
        if (!fs::is_empty(dir, ec))
            throw Failure{EXIT_FOLDER, dir + " is not empty"};
    } else {
        if (!fs::create_directories(dir, ec))
            throw Failure{EXIT_FOLDER, "cannot create " + dir + ": " + ec.message()};
        created = true;
    }
    // The marker first: from here on `ryxlab stop DIR` can clean up whatever
    // an interrupted start leaves.
    writeNewFile(dir + "/" + kMarker, std::string("created=") + (created ? "1" : "0") + "\n");
    std::unique_ptr<LabSlapd> server;
    StartGuard guard(dir, server);
    checkInterrupted();

    labsample::Sample sample;
    try {
        server = std::make_unique<LabSlapd>(LabSlapd::Detached{dir + "/" + kServerFolder},
                                            LabSlapd::Schema::OctetString, kSuffix, port);
        server->setSchemaDirectory(schemaDir);
        server->start();
        checkInterrupted();
        sample = labsample::load(*server);
    } catch (const std::runtime_error& e) {
        checkInterrupted();  // a signal may have cut a wait short
        throw Failure{EXIT_SERVER, serverFailure(e.what(), server.get())};
    }
    checkInterrupted();
    const LabSlapd& slapd = *server;

    const std::string env = envText(dir, slapd, sample);
    writeNewFile(dir + "/root.pem", labpki::certificatePEM(sample.root));
    writeNewFile(dir + "/issuing-ca.pem", labpki::certificatePEM(sample.ca));
    writeNewFile(dir + "/alice.pem", labpki::certificatePEM(sample.alice));
    writeNewFile(dir + "/bob.pem", labpki::certificatePEM(sample.bob));
    writeNewFile(dir + "/crl.pem", labpki::crlPEM(sample.caCRL));
    writeNewFile(dir + "/next-crl.pem", labpki::crlPEM(sample.caNextCRL));
    writeNewFile(dir + "/admin.pw", slapd.rootPassword() + "\n", 0600);
    writeNewFile(dir + "/env", "# The demo directory of ryxlab: . " + dir + "/env\n" + env);
    {
        std::ofstream marker(dir + "/" + kMarker, std::ios::app);
        marker << "url=" << slapd.url() << "\n";
        if (!marker.flush())
            throw Failure{EXIT_FOLDER, "cannot write " + dir + "/" + kMarker};
    }
    checkInterrupted();

    std::cout << "ryxlab: demo directory running at " << slapd.url() << " (slapd pid "
              << slapd.pid() << "), suffix " << slapd.suffix() << "\n"
              << "schema: the certificate and revocation-list attributes have the octet-string\n"
              << "  syntax: values live under the plain attribute names (no \";binary\"), as\n"
              << "  DER or as \"{ASN}\" hex text\n"
              << "entries:\n";
    for (const labsample::Entry& e : sample.entries)
        std::cout << "  " << e.dn << "\n      " << e.description << "\n";
    std::cout
        << "files in " << dir << ":\n"
        << "  root.pem (trust anchor), issuing-ca.pem, alice.pem (valid), bob.pem (revoked),\n"
        << "  crl.pem (the issuing CA's CRL, number 1), next-crl.pem (number 2, not yet\n"
        << "  published: revokes Alice too),\n"
        << "  admin.pw (password of " << slapd.rootDN() << "), env\n"
        << "environment (. " << dir << "/env):\n";
    std::istringstream lines(env);
    for (std::string line; std::getline(lines, line);)
        std::cout << "  " << line << "\n";
    std::cout << "try:\n"
              << "  ryxdir $RYX_LAB_OPTS verify --trust $RYX_LAB_DIR/root.pem "
                 "$RYX_LAB_DIR/alice.pem\n"
              << "stop:\n"
              << "  ryxlab stop " << dir << "\n";
    if (!std::cout.flush())
        throw Failure{EXIT_FOLDER, "cannot write to standard output"};
    guard.done();
    return EXIT_OK;
}

int stop(const std::string& dir) {
    if (!hasMarker(dir))
        throw Failure{EXIT_NOT_RUNNING, "no demo directory in " + dir};
    const pid_t pid = LabSlapd::detachedPid(dir + "/" + kServerFolder);
    try {
        LabSlapd::stopDetached(dir + "/" + kServerFolder);
    } catch (const std::runtime_error& e) {
        throw Failure{EXIT_SERVER, e.what()};
    }
    const std::string note = removeLab(dir);
    if (pid > 0)
        std::cout << "ryxlab: stopped the demo directory in " << dir << " (slapd pid " << pid
                  << ")\n";
    else
        std::cout << "ryxlab: removed the demo directory in " << dir << " (it was not running)\n";
    if (!note.empty())
        std::cout << "ryxlab: " << note << "\n";
    return EXIT_OK;
}

int status(const std::string& dir) {
    if (!hasMarker(dir))
        throw Failure{EXIT_NOT_RUNNING, "no demo directory in " + dir};
    const pid_t pid = LabSlapd::detachedPid(dir + "/" + kServerFolder);
    if (pid < 0)
        throw Failure{EXIT_NOT_RUNNING, "the demo directory in " + dir + " is not running"};
    std::cout << "ryxlab: demo directory running at " << markerValue(dir, "url") << " (slapd pid "
              << pid << ")\n";
    return EXIT_OK;
}

int run(int argc, char** argv) {
    Settings settings;
    const cmdline::Parsed parsed = cmdline::parse(program(), argc, argv, &settings);
    if (parsed.help || parsed.version) {
        std::cout << (parsed.help ? cmdline::usageText(program())
                                  : std::string("ryxlab ") + RYX_VERSION + "\n");
        return EXIT_OK;
    }
    const std::string command = parsed.command->name;
    if (parsed.operands.empty())
        cmdline::usageFailure("command " + command + " needs DIR");
    if (parsed.operands.size() > 1)
        cmdline::usageFailure("unexpected argument \"" + parsed.operands[1] + "\"");
    if (parsed.operands[0].empty())
        cmdline::usageFailure("empty folder name");
    std::string dir = fs::absolute(parsed.operands[0]).lexically_normal().string();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (command == "start")
        return start(dir, settings.port);
    return command == "stop" ? stop(dir) : status(dir);
}

}  // namespace

int main(int argc, char** argv) {
    // Descriptors 0-2 open before anything else is: a closed one would
    // otherwise be taken by a file or an LDAP connection and receive output.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_RDWR) < 0)
            return EXIT_FOLDER;
    try {
        return run(argc, argv);
    } catch (const Failure& f) {
        if (f.status == EXIT_USAGE)
            cmdline::writeUsageFailure(program(), f.message);
        else
            std::cerr << "ryxlab: " << f.message << "\n";
        return f.status;
    } catch (const std::exception& e) {
        std::cerr << "ryxlab: " << e.what() << "\n";
        return EXIT_SERVER;
    }
}
