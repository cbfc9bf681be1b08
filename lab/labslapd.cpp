#include "labslapd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldap.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "childprocess.h"
#include "ryxopenldapptr.h"
#include "ryxuniquefd.h"

namespace {

const char* const kOctetStringNames[] = {"userCertificate",
                                         "cACertificate",
                                         "authorityRevocationList",
                                         "certificateRevocationList",
                                         "crossCertificatePair",
                                         "strongAuthenticationUser",
                                         "certificationAuthority",
                                         "certificationAuthority-V2",
                                         "cRLDistributionPoint",
                                         "pkiUser",
                                         "pkiCA"};

using LdapPtr = ryx::UniquePtr<LDAP>;

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.good())
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int pickFreePort() {
    const ryx::UniqueFd owner(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = owner.get();
    if (!owner)
        throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("cannot find a free loopback port");
    return ntohs(addr.sin_port);
}

// The name in "( oid NAME 'x' ..." or "( oid NAME ( 'x' 'y' ) ...".
std::string definitionName(const std::string& block) {
    size_t p = block.find("NAME");
    if (p == std::string::npos)
        return {};
    p = block.find('\'', p);
    if (p == std::string::npos)
        return {};
    size_t e = block.find('\'', p + 1);
    if (e == std::string::npos)
        return {};
    return block.substr(p + 1, e - p - 1);
}

bool startsDefinition(const std::string& line) {
    return line.rfind("attributetype", 0) == 0 || line.rfind("objectclass", 0) == 0;
}

// core.schema without the definitions that our octet-string schema replaces.
std::string strippedCoreSchema(const std::string& text) {
    std::set<std::string> drop;
    for (const char* n : kOctetStringNames)
        drop.insert(n);
    std::istringstream in(text);
    std::string out, line, block;
    bool inBlock = false;
    auto flush = [&] {
        if (inBlock && drop.count(definitionName(block)) == 0)
            out += block;
        block.clear();
        inBlock = false;
    };
    while (std::getline(in, line)) {
        line += '\n';
        if (startsDefinition(line)) {
            flush();
            inBlock = true;
            block = line;
        } else if (inBlock && !line.empty() && (line[0] == '\t' || line[0] == ' ')) {
            block += line;
        } else {
            flush();
            out += line;
        }
    }
    flush();
    return out;
}

LdapPtr connectTo(const std::string& url) {
    LDAP* raw = nullptr;
    if (ldap_initialize(&raw, url.c_str()) != LDAP_SUCCESS || raw == nullptr)
        throw std::runtime_error("ldap_initialize failed for " + url);
    LdapPtr ld(raw);
    int version = LDAP_VERSION3;
    ldap_set_option(ld.get(), LDAP_OPT_PROTOCOL_VERSION, &version);
    timeval tv{2, 0};
    ldap_set_option(ld.get(), LDAP_OPT_NETWORK_TIMEOUT, &tv);
    return ld;
}

std::string errorText(LDAP* ld, int rc) {
    std::string msg = ldap_err2string(rc);
    char* diag = nullptr;
    if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag) == 0) {
        const ryx::UniquePtr<char, ryx::LdapMemfree> owner(diag);
        if (diag != nullptr && *diag != '\0')
            msg += std::string(" (") + diag + ")";
    }
    return msg;
}

// Owns the LDAPMod array handed to libldap; values point into the attributes.
class ModArray {
  public:
    ModArray(int op, const std::vector<LabSlapd::Attribute>& attributes) {
        m_mods.reserve(attributes.size());
        for (const auto& a : attributes) {
            std::vector<berval> vals;
            for (const auto& v : a.values)
                vals.push_back(
                    berval{static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())});
            m_vals.push_back(std::move(vals));
        }
        for (size_t i = 0; i < attributes.size(); ++i) {
            std::vector<berval*> ptrs;
            for (auto& v : m_vals[i])
                ptrs.push_back(&v);
            ptrs.push_back(nullptr);
            m_ptrs.push_back(std::move(ptrs));
        }
        for (size_t i = 0; i < attributes.size(); ++i) {
            LDAPMod m{};
            m.mod_op = op | LDAP_MOD_BVALUES;
            m.mod_type = const_cast<char*>(attributes[i].name.c_str());
            m.mod_bvalues = m_ptrs[i].data();
            m_mods.push_back(m);
        }
        for (auto& m : m_mods)
            m_list.push_back(&m);
        m_list.push_back(nullptr);
    }
    LDAPMod** get() { return m_list.data(); }

  private:
    std::vector<std::vector<berval>> m_vals;
    std::vector<std::vector<berval*>> m_ptrs;
    std::vector<LDAPMod> m_mods;
    std::vector<LDAPMod*> m_list;
};

// A detached server's pid as recorded by the process that launched it (slapd's
// own pid file appears only once it has started).
const char* const kDetachedPidFile = "server.pid";
// How long slapd may take to go after SIGTERM (and again after SIGKILL).
constexpr std::chrono::seconds kStopGrace(5);

// True when pid runs slapd with the configuration file conf.
bool runsSlapdWith(pid_t pid, const std::string& conf) {
    std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> args;
    for (size_t start = 0; start < cmdline.size();) {
        size_t end = cmdline.find('\0', start);
        if (end == std::string::npos)
            end = cmdline.size();
        args.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    if (args.empty() || args[0] != RYX_SLAPD)
        return false;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "-f" && args[i + 1] == conf)
            return true;
    return false;
}

}  // namespace

LabSlapd::LabSlapd(Schema schema, std::string suffix, int port)
    : m_schema(schema),
      m_suffix(std::move(suffix)),
      m_port(port),
      m_rootDN("cn=admin," + m_suffix),
      m_rootPassword("secret") {
    char templ[] = "/tmp/ryxslapd.XXXXXX";
    if (::mkdtemp(templ) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dir = templ;
}

LabSlapd::LabSlapd(Detached detached, Schema schema, std::string suffix, int port)
    : m_schema(schema),
      m_suffix(std::move(suffix)),
      m_port(port),
      m_rootDN("cn=admin," + m_suffix),
      m_rootPassword("secret"),
      m_dir(std::filesystem::absolute(detached.directory).lexically_normal().string()),
      m_detached(true) {
    while (m_dir.size() > 1 && m_dir.back() == '/')
        m_dir.pop_back();
    std::error_code ec;
    std::filesystem::create_directories(m_dir, ec);
    if (ec)
        throw std::runtime_error("cannot create " + m_dir + ": " + ec.message());
}

LabSlapd::~LabSlapd() {
    if (m_detached)
        return;
    stop();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string LabSlapd::hostPort() const {
    return host() + ":" + std::to_string(m_port);
}

std::string LabSlapd::url() const {
    return "ldap://" + hostPort();
}

std::string LabSlapd::tlsUrl() const {
    return "ldaps://" + host() + ":" + std::to_string(m_tlsPort);
}

void LabSlapd::enableTls(const std::string& certificatePEM, const std::string& keyPEM) {
    m_tlsCertificate = certificatePEM;
    m_tlsKey = keyPEM;
}

void LabSlapd::makeProvider() {
    m_provider = true;
}

void LabSlapd::replicateFrom(const LabSlapd& provider) {
    m_providerUrl = provider.url();
}

std::string LabSlapd::logPath() const {
    return m_dir + "/slapd.log";
}

std::string LabSlapd::logTail(size_t lines) const {
    std::ifstream in(logPath());
    std::deque<std::string> tail;
    std::string line;
    while (std::getline(in, line)) {
        tail.push_back(line);
        if (tail.size() > lines)
            tail.pop_front();
    }
    std::string out;
    for (const auto& l : tail)
        out += l + "\n";
    return out;
}

bool LabSlapd::running() const {
    if (m_pid <= 0)
        return false;
    return ::kill(m_pid, 0) == 0;
}

pid_t LabSlapd::pid() const {
    return m_pid;
}

void LabSlapd::writeConfig() {
    if (m_port == 0)
        m_port = pickFreePort();
    if (!m_tlsCertificate.empty() && m_tlsPort == 0)
        m_tlsPort = pickFreePort();
    std::filesystem::create_directories(m_dir + "/db");
    const std::string schemaDir = RYX_SLAPD_SCHEMA_DIR;
    std::ostringstream conf;
    if (m_schema == Schema::Stock) {
        conf << "include " << schemaDir << "/core.schema\n";
    } else {
        std::string core = readFile(schemaDir + "/core.schema");
        if (core.empty())
            throw std::runtime_error("cannot read " + schemaDir + "/core.schema");
        writeFile(m_dir + "/core-stripped.schema", strippedCoreSchema(core));
        conf << "include " << m_dir << "/core-stripped.schema\n";
        conf << "include " << m_labSchemaDir << "/octetstring-pki.schema\n";
    }
    conf << "include " << schemaDir << "/cosine.schema\n"
         << "include " << schemaDir << "/inetorgperson.schema\n"
         << "pidfile " << m_dir << "/slapd.pid\n"
         << "argsfile " << m_dir << "/slapd.args\n"
         << "modulepath " << RYX_SLAPD_MODULE_DIR << "\n"
         << "moduleload back_mdb\n"
         << "sockbuf_max_incoming_auth 268435456\n";
    if (m_provider)
        conf << "moduleload syncprov\n";
    if (!m_tlsCertificate.empty()) {
        writeFile(m_dir + "/server.pem", m_tlsCertificate);
        writeFile(m_dir + "/server.key", m_tlsKey);
        conf << "TLSCertificateFile " << m_dir << "/server.pem\n"
             << "TLSCertificateKeyFile " << m_dir << "/server.key\n";
    }
    conf << "database mdb\n"
         << "maxsize 1073741824\n"
         << "suffix \"" << m_suffix << "\"\n"
         << "rootdn \"" << m_rootDN << "\"\n"
         << "rootpw " << m_rootPassword << "\n"
         << "directory " << m_dir << "/db\n";
    if (m_sizeLimit > 0)
        conf << "limits * size.soft=" << m_sizeLimit << " size.hard=" << m_sizeLimit
             << " size.prtotal=unlimited\n";
    if (m_provider)
        conf << "index entryCSN,entryUUID eq\n"
             << "overlay syncprov\n";
    if (!m_providerUrl.empty())
        conf << "syncrepl rid=001 provider=" << m_providerUrl
             << " type=refreshAndPersist retry=\"1 +\" searchbase=\"" << m_suffix
             << "\" bindmethod=simple binddn=\"" << m_rootDN << "\" credentials=" << m_rootPassword
             << "\n";
    writeFile(m_dir + "/slapd.conf", conf.str());
    m_configured = true;
}

void LabSlapd::launch() {
    std::string listen = "ldap://" + hostPort() + "/";
    if (m_tlsPort != 0)
        listen += " " + tlsUrl() + "/";
    ryxproc::Launch slapd;
    slapd.argv = {RYX_SLAPD, "-d", "0", "-f", m_dir + "/slapd.conf", "-h", listen};
    slapd.stdinPath = "/dev/null";
    slapd.stdoutPath = logPath();
    slapd.appendOutput = true;
    slapd.stderrToStdout = true;
    // A detached server has no tie to this process; any other dies with it.
    slapd.newSession = slapd.onlyStandardFds = m_detached;
    slapd.dieWithParent = !m_detached;
    m_pid = ryxproc::start(slapd);
    if (m_detached)
        writeFile(m_dir + "/" + kDetachedPidFile, std::to_string(m_pid) + "\n");
}

bool LabSlapd::waitReady() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (ryxproc::waitFor(m_pid, ryxproc::Milliseconds(0))) {
            m_pid = -1;
            return false;
        }
        try {
            LdapPtr ld = connectTo(url());
            char noAttrs[] = LDAP_NO_ATTRS;
            char* attrs[] = {noAttrs, nullptr};
            timeval tv{2, 0};
            LDAPMessage* res = nullptr;
            int rc = ldap_search_ext_s(ld.get(), "", LDAP_SCOPE_BASE, "(objectClass=*)", attrs, 0,
                                       nullptr, nullptr, &tv, 0, &res);
            ryx::UniquePtr<LDAPMessage> guard(res);
            if (rc == LDAP_SUCCESS)
                return true;
        } catch (const std::exception&) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void LabSlapd::start() {
    if (running())
        return;
    const bool first = !m_configured;
    if (first)
        writeConfig();
    launch();
    if (!waitReady()) {
        stop();
        throw std::runtime_error("slapd did not start on " + url() + "; log " + logPath() + ":\n" +
                                 logTail());
    }
    if (first && m_providerUrl.empty())
        createSuffixEntry();
}

void LabSlapd::stop() {
    if (m_pid <= 0)
        return;
    ryxproc::stop(m_pid, kStopGrace);
    m_pid = -1;
}

pid_t LabSlapd::detachedPid(const std::string& directory) {
    const std::string text = readFile(directory + "/" + kDetachedPidFile);
    char* end = nullptr;
    const long pid = std::strtol(text.c_str(), &end, 10);
    if (pid <= 0 || end == text.c_str() || (*end != '\n' && *end != '\0'))
        return -1;
    if (!ryxproc::alive(static_cast<pid_t>(pid)) ||
        !runsSlapdWith(static_cast<pid_t>(pid), directory + "/slapd.conf"))
        return -1;
    return static_cast<pid_t>(pid);
}

bool LabSlapd::stopDetached(const std::string& directory) {
    const pid_t pid = detachedPid(directory);
    if (pid < 0)
        return false;
    if (!ryxproc::stop(pid, kStopGrace))
        throw std::runtime_error("slapd (pid " + std::to_string(pid) + ") does not stop");
    std::remove((directory + "/" + kDetachedPidFile).c_str());
    return true;
}

void LabSlapd::restart() {
    stop();
    start();
}

void LabSlapd::createSuffixEntry() {
    const size_t eq = m_suffix.find('=');
    const size_t comma = m_suffix.find(',');
    std::string type = m_suffix.substr(0, eq);
    std::string value =
        m_suffix.substr(eq + 1, comma == std::string::npos ? std::string::npos : comma - eq - 1);
    for (auto& c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string oc = "extensibleObject";
    if (type == "dc")
        oc = "domain";
    else if (type == "o")
        oc = "organization";
    else if (type == "ou")
        oc = "organizationalUnit";
    else if (type == "c")
        oc = "country";
    std::vector<Attribute> attrs = {{"objectClass", {"top", oc}}, {type, {value}}};
    std::string error;
    int rc = modify(m_suffix, LDAP_MOD_ADD, &attrs, &error);
    if (rc != LDAP_SUCCESS && rc != LDAP_ALREADY_EXISTS)
        throw std::runtime_error("cannot add suffix entry " + m_suffix + ": " + error);
}

// op: LDAP_MOD_ADD adds an entry, LDAP_MOD_REPLACE modifies, LDAP_MOD_DELETE
// with no attributes deletes the entry.
int LabSlapd::modify(const std::string& dn, int op, const std::vector<Attribute>* attributes,
                     std::string* error) {
    LdapPtr ld = connectTo(url());
    berval cred{static_cast<ber_len_t>(m_rootPassword.size()), m_rootPassword.data()};
    int rc = ldap_sasl_bind_s(ld.get(), m_rootDN.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr,
                              nullptr);
    if (rc == LDAP_SUCCESS) {
        if (op == LDAP_MOD_DELETE && attributes == nullptr) {
            rc = ldap_delete_ext_s(ld.get(), dn.c_str(), nullptr, nullptr);
        } else {
            ModArray mods(op, *attributes);
            rc = op == LDAP_MOD_ADD
                     ? ldap_add_ext_s(ld.get(), dn.c_str(), mods.get(), nullptr, nullptr)
                     : ldap_modify_ext_s(ld.get(), dn.c_str(), mods.get(), nullptr, nullptr);
        }
    }
    if (rc != LDAP_SUCCESS && error != nullptr)
        *error = errorText(ld.get(), rc);
    return rc;
}

int LabSlapd::tryAddEntry(const std::string& dn, const std::vector<Attribute>& attributes) {
    return modify(dn, LDAP_MOD_ADD, &attributes, nullptr);
}

void LabSlapd::addEntry(const std::string& dn, const std::vector<Attribute>& attributes) {
    std::string error;
    if (modify(dn, LDAP_MOD_ADD, &attributes, &error) != LDAP_SUCCESS)
        throw std::runtime_error("cannot add " + dn + ": " + error);
}

void LabSlapd::replaceAttribute(const std::string& dn, const Attribute& attribute) {
    std::vector<Attribute> attrs = {attribute};
    std::string error;
    if (modify(dn, LDAP_MOD_REPLACE, &attrs, &error) != LDAP_SUCCESS)
        throw std::runtime_error("cannot modify " + dn + ": " + error);
}

void LabSlapd::deleteEntry(const std::string& dn) {
    std::string error;
    if (modify(dn, LDAP_MOD_DELETE, nullptr, &error) != LDAP_SUCCESS)
        throw std::runtime_error("cannot delete " + dn + ": " + error);
}

void LabSlapd::addLdif(const std::string& ldif) {
    static int counter = 0;
    const std::string base = m_dir + "/load" + std::to_string(++counter);
    const std::string input = base + ".ldif";
    const std::string output = base + ".out";
    writeFile(input, ldif);
    ryxproc::Launch ldapadd;
    ldapadd.argv = {"ldapadd", "-x", "-H",           url(), "-D",
                    m_rootDN,  "-w", m_rootPassword, "-f",  input};
    ldapadd.stdinPath = "/dev/null";
    ldapadd.stdoutPath = output;
    ldapadd.stderrToStdout = true;
    int status = 0;
    if (!ryxproc::run(ldapadd, std::chrono::minutes(5), &status))
        throw std::runtime_error("ldapadd ran longer than 5 minutes:\n" + readFile(output));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("ldapadd failed:\n" + readFile(output));
}
