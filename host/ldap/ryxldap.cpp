#include "ryxldap.h"

#include <strings.h>

#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <openssl/crypto.h>

#include "configure.h"
#include "diag.h"
#include "hostlist.h"
#include "ldapurl.h"
#include "ryxopenldapptr.h"
#include "ryxtrace.h"
#include "settings.h"
#include "tlsverdict.h"
#include "watch.h"

namespace {

using ryxldap::Settings;
using ryxldap::StartTls;
using ryxldap::Watch;

// OpenLDAP reports client-side failures as -1 .. -17; the C LDAP API numbers
// the same failures 0x51 .. 0x61 in the same order.
constexpr int kFirstClientCode = 0x51;
constexpr int kLastClientCode = 0x61;
constexpr int kClientCodeCount = kLastClientCode - kFirstClientCode + 1;

int toApiCode(int rc) {
    if (rc < 0 && rc >= -kClientCodeCount)
        return kFirstClientCode - 1 - rc;
    return rc;
}

int toOpenLdapCode(int rc) {
    if (rc >= kFirstClientCode && rc <= kLastClientCode)
        return kFirstClientCode - 1 - rc;
    return rc;
}

// ---------------------------------------------------------------- reporting

// The trace component of this library (the plug-in's is 0x100).
constexpr unsigned int kTraceComponent = 0x200;

void traceError(const std::string& text) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    if (t != nullptr && t->isEnabled(kTraceComponent, RYX_TRACE_LEVEL_ERROR))
        t->write(kTraceComponent, __FILE__, __LINE__, RYX_TRACE_LEVEL_ERROR, text.data(),
                 text.size());
}

// The reason of the latest failure on this thread, for ryx_ldap_err2string.
// Plain arrays: a thread_local with a destructor would pin the library.
thread_local int t_reasonCode = 0;
thread_local char t_reasonText[512];

void noteReason(int apiCode, const std::string& why) {
    if (why.empty()) {
        t_reasonCode = 0;
        return;
    }
    std::snprintf(t_reasonText, sizeof t_reasonText, "%s (%s)",
                  ldap_err2string(toOpenLdapCode(apiCode)), why.c_str());
    t_reasonCode = apiCode;
    traceError(t_reasonText);
}

// The library's shared state lives in static storage that is never destroyed,
// so that a call made while the process exits (a host's static object unbinding
// its handle late) finds it intact; what it holds is released when the library
// is unloaded (see Reclaim below).
template <class T>
T& immortal() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* object = new (storage) T();
    return *object;
}

// Settings complaints are traced once per text, not on every ryx_ldap_init.
struct Complaints {
    std::mutex mutex;
    std::set<std::string> traced;
};

Settings currentSettings() {
    std::vector<std::string> complaints;
    Settings s = ryxldap::configured(
        ryxldap::readSettings([](const char* name) { return std::getenv(name); }, &complaints));
    if (!complaints.empty()) {
        Complaints& known = immortal<Complaints>();
        std::lock_guard<std::mutex> lock(known.mutex);
        for (const std::string& c : complaints) {
            if (known.traced.insert(c).second)
                traceError(c);
        }
    }
    return s;
}

// ---------------------------------------------------------------- connections

// One OpenLDAP handle with its watch; ready once connected and TLS settled.
struct Link {
    explicit Link(long idleSeconds) : watch(idleSeconds) {}
    ~Link() {
        if (ld != nullptr)
            ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    Watch watch;
    ryxldap::TlsVerdict tls;
    LDAP* ld = nullptr;
    bool ready = false;
    bool implicitTls = false;  // an ldaps:// URL
    bool sent = false;         // the current request went out
    std::string urls;
};

std::string diagnostic(LDAP* ld) {
    char* text = nullptr;
    std::string out;
    if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS &&
        text != nullptr) {
        out = text;
        ldap_memfree(text);
    }
    return out;
}

long connectBound(const Settings& s) {
    if (s.networkTimeout == 0)
        return s.idleTimeout;
    if (s.idleTimeout == 0)
        return s.networkTimeout;
    return std::min(s.networkTimeout, s.idleTimeout);
}

// The connect bound in milliseconds, cut by the operation's deadline; 0: none.
long connectMillis(const Link& link, const Settings& s) {
    const long bound = connectBound(s) * 1000;
    const long left = link.watch.deadlineLeftMs();
    if (left < 0)
        return bound;
    return std::max(1L, bound == 0 ? left : std::min(bound, left));
}

// Connects the link within the connect bound; a connect that timed out says so.
int connectLink(Link& link, const Settings& s, std::string* why) {
    const long bound = connectMillis(link, s);
    if (bound > 0) {
        timeval tv{bound / 1000, (bound % 1000) * 1000};
        ldap_set_option(link.ld, LDAP_OPT_NETWORK_TIMEOUT, &tv);
    }
    const Watch::Clock::time_point start = Watch::Clock::now();
    const int rc = ldap_connect(link.ld);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Watch::Clock::now() - start);
    if (rc != LDAP_SUCCESS && bound > 0 && took.count() >= bound - 10 &&
        link.watch.silence().empty())
        *why = "no connection within " + std::to_string((bound + 999) / 1000) + " s";
    return rc;
}

std::unique_ptr<Link> openLink(const std::string& urls, const Settings& s, int version) {
    auto link = std::make_unique<Link>(s.idleTimeout);
    if (ldap_initialize(&link->ld, urls.c_str()) != LDAP_SUCCESS || link->ld == nullptr) {
        link->ld = nullptr;
        return nullptr;
    }
    if (!link->watch.attach(link->ld) || !link->tls.attach(link->ld))
        return nullptr;
    ldap_set_option(link->ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    link->implicitTls = urls.find("ldaps://") != std::string::npos;
    link->urls = urls;
    return link;
}

// The host of a link's URL, for its TLS reasons.
std::string hostOf(const Link& link) {
    LDAPURLDesc* d = nullptr;
    std::string host;
    if (ldap_url_parse(link.urls.c_str(), &d) == LDAP_URL_SUCCESS && d->lud_host != nullptr)
        host = d->lud_host;
    ldap_free_urldesc(d);
    return host;
}

std::string tlsFailure(const Link& link) {
    return "TLS: " + link.tls.reason(hostOf(link), diagnostic(link.ld));
}

// Connects and settles TLS: StartTLS when configured and the connection is not
// ldaps:// already. A server that refuses StartTLS is used in clear text only
// with "try"; a failed handshake or certificate check always fails.
int prepare(Link& link, const Settings& s, std::string* why) {
    if (link.ready)
        return LDAP_SUCCESS;
    link.watch.restart();
    int rc = connectLink(link, s, why);
    if (rc != LDAP_SUCCESS) {
        if (why->empty())
            *why = link.watch.silence();
        if (why->empty() && link.implicitTls && link.tls.started()) {
            *why = tlsFailure(link);
            return LDAP_CONNECT_ERROR;
        }
        return rc;
    }
    if (s.startTls != StartTls::Off && !ldap_tls_inplace(link.ld)) {
        int msgid = -1;
        LDAPMessage* answer = nullptr;
        rc = ldap_start_tls(link.ld, nullptr, nullptr, &msgid);
        if (rc == LDAP_SUCCESS)
            rc = link.watch.await(link.ld, msgid, nullptr, &answer, why);
        if (rc == LDAP_SUCCESS) {
            int code = LDAP_OTHER;
            char* text = nullptr;
            ldap_parse_result(link.ld, answer, &code, nullptr, &text, nullptr, nullptr, 1);
            const std::string serverText = text != nullptr ? text : "";
            ldap_memfree(text);
            if (code != LDAP_SUCCESS) {
                std::string refusal =
                    "the server refused StartTLS: " + std::string(ldap_err2string(code)) +
                    (serverText.empty() ? "" : ", " + serverText);
                if (s.startTls == StartTls::Try) {
                    traceError("TLS: " + refusal + "; going on without TLS");
                    if (s.notice != nullptr)
                        s.notice(s.noticeArg,
                                 (link.urls + ": " + refusal + "; going on in clear text").c_str());
                    link.ready = true;
                    return LDAP_SUCCESS;
                }
                *why = "TLS required: " + refusal;
                return LDAP_CONNECT_ERROR;
            }
            link.watch.restart();
            rc = ldap_install_tls(link.ld);
            if (rc != LDAP_SUCCESS) {
                *why = link.watch.silence();
                if (why->empty())
                    *why = tlsFailure(link);
                return LDAP_CONNECT_ERROR;
            }
        } else if (why->empty()) {
            *why = "TLS: StartTLS failed";
        }
        if (rc != LDAP_SUCCESS)
            return rc;
    }
    link.ready = true;
    return LDAP_SUCCESS;
}

// The result code of a complete answer; the answer is released when freeIt.
int resultCode(LDAP* ld, LDAPMessage* answer, int freeIt) {
    int code = LDAP_OTHER;
    const int rc = ldap_parse_result(ld, answer, &code, nullptr, nullptr, nullptr, nullptr, freeIt);
    return rc == LDAP_SUCCESS ? code : rc;
}

// Runs one request on a link: connect and TLS first, then send, then wait for
// the whole answer. send returns an OpenLDAP code and stores the message id.
template <class Send>
int exchange(Link& link, const Settings& s, Send send, const timeval* limit, LDAPMessage** answer,
             std::string* why) {
    int rc = prepare(link, s, why);
    if (rc != LDAP_SUCCESS)
        return rc;
    link.watch.restart();
    int msgid = -1;
    rc = send(link.ld, &msgid);
    if (rc != LDAP_SUCCESS) {
        *why = link.watch.silence();
        return rc;
    }
    link.sent = true;
    return link.watch.await(link.ld, msgid, limit, answer, why);
}

int simpleBind(Link& link, const Settings& s, const char* dn, const char* password,
               std::string* why) {
    berval cred{0, nullptr};
    if (password != nullptr) {
        cred.bv_len = std::strlen(password);
        cred.bv_val = const_cast<char*>(password);
    }
    LDAPMessage* answer = nullptr;
    const int rc = exchange(
        link, s,
        [&](LDAP* ld, int* id) {
            return ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, id);
        },
        nullptr, &answer, why);
    return rc == LDAP_SUCCESS ? resultCode(link.ld, answer, 1) : rc;
}

// A write (add, modify, delete, rename) whose answer carries only a code.
template <class Send>
int write(Link& link, const Settings& s, Send send, std::string* why) {
    LDAPMessage* answer = nullptr;
    const int rc = exchange(link, s, send, nullptr, &answer, why);
    return rc == LDAP_SUCCESS ? resultCode(link.ld, answer, 1) : rc;
}

// One handle of this library: the primary connection, the connections opened
// for URLs that name a server (one per server), the settings read when it was
// made, and the last result code. A handle whose server was lost is closed:
// its connections are released at once and every later operation answers with
// the code and reason that closed it.
struct Connection {
    ~Connection() { OPENSSL_cleanse(&bindPassword[0], bindPassword.size()); }
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    LDAP* handle = nullptr;
    Settings settings;
    std::unique_ptr<Link> primary;
    // The hosts in the order tried, with the one of the primary connection;
    // the credentials of the last successful bind when there is a next host.
    std::vector<std::string> hosts;
    size_t at = 0;
    std::string bindDn, bindPassword;
    bool hasBind = false;
    bool rebind = false;                // the primary connection is new and not yet bound
    Watch::Clock::time_point deadline;  // of the current operation
    std::map<std::string, std::unique_ptr<Link>> secondaries;
    int lastError = LDAP_SUCCESS;
    int closedCode = LDAP_SUCCESS;  // OpenLDAP numbering
    std::string closedWhy;

    bool closed() const { return closedCode != LDAP_SUCCESS; }
};

bool serverLost(int rc) {
    return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR;
}

// Handles are numbers, not addresses: a handle that was released can never be
// mistaken for a later one. Every function checks its handle here first.
class Registry {
  public:
    // Releases every handle, also those their users forgot, and refuses new
    // ones; the containers give back their memory too.
    void reclaim() {
        std::unordered_map<uintptr_t, std::shared_ptr<Connection>> handles;
        std::vector<uintptr_t> closed;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_reclaimed = true;
            handles.swap(m_handles);
            closed.swap(m_closed);
        }
        std::lock_guard<std::mutex> lock(m_walkerMutex);
        if (m_walker != nullptr)
            ldap_unbind_ext_s(m_walker, nullptr, nullptr);
        m_walker = nullptr;
    }

    // Null once reclaimed.
    LDAP* add(const std::shared_ptr<Connection>& c) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reclaimed)
            return nullptr;
        m_next += kStep;
        c->handle = reinterpret_cast<LDAP*>(m_next);
        m_handles.emplace(m_next, c);
        return c->handle;
    }

    std::shared_ptr<Connection> find(LDAP* handle) {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(reinterpret_cast<uintptr_t>(handle));
        return it == m_handles.end() ? nullptr : it->second;
    }

    bool remove(LDAP* handle) {
        std::shared_ptr<Connection> gone;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_handles.find(reinterpret_cast<uintptr_t>(handle));
        if (it == m_handles.end())
            return false;
        gone = std::move(it->second);
        m_handles.erase(it);
        return true;
    }

    // A closed handle is kept for its user, who may still ask for its code or
    // unbind it; of those never unbound, only the latest kKeepClosed stay.
    void closed(LDAP* handle) {
        std::vector<std::shared_ptr<Connection>> evicted;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed.push_back(reinterpret_cast<uintptr_t>(handle));
        if (m_closed.size() <= kKeepClosed)
            return;
        auto it = m_handles.find(m_closed.front());
        m_closed.erase(m_closed.begin());
        if (it != m_handles.end()) {
            evicted.push_back(std::move(it->second));
            m_handles.erase(it);
        }
    }

    // An unconnected OpenLDAP handle for walking results when the handle's own
    // connection is gone; used under the returned lock.
    LDAP* walker(std::unique_lock<std::mutex>* lock) {
        *lock = std::unique_lock<std::mutex>(m_walkerMutex);
        if (m_walker == nullptr)
            ldap_initialize(&m_walker, nullptr);
        return m_walker;
    }

  private:
    static constexpr uintptr_t kStep = 16;
    static constexpr size_t kKeepClosed = 64;
    std::mutex m_mutex;
    std::unordered_map<uintptr_t, std::shared_ptr<Connection>> m_handles;
    std::vector<uintptr_t> m_closed;  // oldest first
    bool m_reclaimed = false;
    uintptr_t m_next = 0x5259000;
    std::mutex m_walkerMutex;
    LDAP* m_walker = nullptr;
};

Registry& registry() {
    return immortal<Registry>();
}

// Records an operation's outcome on c: the code, the reason for
// ryx_ldap_err2string and, when the primary connection's server is lost, the
// closing. Returns the code in API numbering.
int finish(Connection& c, int rc, const std::string& why, bool onPrimary) {
    c.lastError = toApiCode(rc);
    if (rc != LDAP_SUCCESS)
        noteReason(c.lastError, why);
    if (onPrimary && serverLost(rc) && !c.closed()) {
        c.closedCode = rc;
        c.closedWhy = why;
        c.secondaries.clear();
        c.primary.reset();
        registry().closed(c.handle);
    }
    return c.lastError;
}

// Hosts that failed lately are tried last for five minutes.
ryxldap::HostMemory& hostMemory() {
    return immortal<ryxldap::HostMemory>();
}

void forget(std::string* secret) {
    OPENSSL_cleanse(&(*secret)[0], secret->size());
    secret->clear();
}

int unknownHandle() {
    noteReason(toApiCode(LDAP_PARAM_ERROR), "not a connection handle of this library");
    return toApiCode(LDAP_PARAM_ERROR);
}

// Options a caller may have set on the handle, carried over to the connection
// of the next host.
void copyOptions(LDAP* from, LDAP* to) {
    for (int option :
         {LDAP_OPT_PROTOCOL_VERSION, LDAP_OPT_DEREF, LDAP_OPT_SIZELIMIT, LDAP_OPT_TIMELIMIT}) {
        int value = 0;
        if (ldap_get_option(from, option, &value) == LDAP_OPT_SUCCESS)
            ldap_set_option(to, option, &value);
    }
    int referrals = 0;
    if (ldap_get_option(from, LDAP_OPT_REFERRALS, &referrals) == LDAP_OPT_SUCCESS)
        ldap_set_option(to, LDAP_OPT_REFERRALS, referrals ? LDAP_OPT_ON : LDAP_OPT_OFF);
}

// Moves the primary connection of c to its next host, within the operation's
// deadline; false when there is none.
bool nextHost(Connection& c, const std::string& why) {
    if (c.at + 1 >= c.hosts.size() || Watch::Clock::now() >= c.deadline)
        return false;
    std::unique_ptr<Link> link = openLink(c.hosts[c.at + 1], c.settings, LDAP_VERSION3);
    if (link == nullptr)
        return false;
    traceError(c.hosts[c.at] + " failed" + (why.empty() ? "" : " (" + why + ")") + "; trying " +
               c.hosts[c.at + 1]);
    copyOptions(c.primary->ld, link->ld);
    ++c.at;
    c.primary = std::move(link);
    c.rebind = c.hasBind;
    return true;
}

// One try of body on the primary connection, bound again first when it is the
// connection of a next host.
template <class Body>
int attempt(Connection& c, Body& body, std::string* why) {
    Link& link = *c.primary;
    link.watch.setDeadline(c.deadline, c.settings.deadline);
    why->clear();
    if (c.rebind) {
        const int rc = simpleBind(link, c.settings, c.bindDn.c_str(), c.bindPassword.c_str(), why);
        if (rc != LDAP_SUCCESS)
            return rc;
        c.rebind = false;
    }
    link.sent = false;
    return body(c, link, why);
}

// Runs body(c, link, why) on the primary connection of a known, open handle. A
// host that cannot be reached or does not answer in time is noted as failed,
// and body runs again on the next host of the list, unless it is a write
// (not repeatable) whose request had gone out.
template <class Body>
int onPrimary(LDAP* handle, Body body, bool repeatable = true) {
    std::shared_ptr<Connection> c = registry().find(handle);
    if (c == nullptr)
        return unknownHandle();
    if (c->closed())
        return finish(*c, c->closedCode, c->closedWhy, false);
    c->deadline = Watch::deadlineIn(c->settings.deadline);
    std::string why;
    for (;;) {
        const int rc = attempt(*c, body, &why);
        if (!serverLost(rc)) {
            if (c->primary->ready)
                hostMemory().answered(c->hosts[c->at]);
            return finish(*c, rc, why, true);
        }
        hostMemory().failed(c->hosts[c->at]);
        if ((c->primary->sent && !repeatable) || !nextHost(*c, why))
            return finish(*c, rc, why, true);
    }
}

// The OpenLDAP handle that walks results of handle: its own connection's, or
// the shared walker (under *lock) when that is gone. Null for an unknown handle.
LDAP* walkerFor(LDAP* handle, std::unique_lock<std::mutex>* lock) {
    std::shared_ptr<Connection> c = registry().find(handle);
    if (c == nullptr)
        return nullptr;
    if (c->primary != nullptr)
        return c->primary->ld;  // stays open: only its own thread closes it
    return registry().walker(lock);
}

// ---------------------------------------------------------------- ";binary"

bool endsWithBinary(const char* name, size_t* baseLength) {
    static const char kOption[] = ";binary";
    const size_t n = std::strlen(name);
    const size_t k = sizeof kOption - 1;
    if (n <= k || strcasecmp(name + n - k, kOption) != 0)
        return false;
    *baseLength = n - k;
    return true;
}

std::string lower(const char* text, size_t n) {
    std::string out(text, n);
    for (char& ch : out)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return out;
}

using FoldSet = std::set<std::string>;  // lower-case names asked for plainly only

// The attribute names asked for by their plain name without also asking for
// the ";binary" description of the same attribute.
std::shared_ptr<const FoldSet> foldSetFor(char** attrs) {
    FoldSet plain, binary;
    for (char** a = attrs; a != nullptr && *a != nullptr; ++a) {
        size_t base = 0;
        if (endsWithBinary(*a, &base))
            binary.insert(lower(*a, base));
        else if (std::strchr(*a, ';') == nullptr && std::strcmp(*a, "*") != 0 &&
                 std::strcmp(*a, "+") != 0 && std::strcmp(*a, LDAP_NO_ATTRS) != 0)
            plain.insert(lower(*a, std::strlen(*a)));
    }
    for (const std::string& b : binary)
        plain.erase(b);
    if (plain.empty())
        return nullptr;
    return std::make_shared<const FoldSet>(std::move(plain));
}

// The entries of results whose ";binary" names are reported under the plain
// name, with the names that fold; released with their result.
class FoldTable {
  public:
    void add(LDAP* ld, LDAPMessage* chain, std::shared_ptr<const FoldSet> names) {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<LDAPMessage*>& list = m_chains[chain];
        for (LDAPMessage* e = ldap_first_entry(ld, chain); e != nullptr;
             e = ldap_next_entry(ld, e)) {
            list.push_back(e);
            m_entries[e] = names;
        }
        m_count.store(m_entries.size());
    }
    void release(LDAPMessage* chain) {
        if (m_count.load() == 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_chains.find(chain);
        if (it == m_chains.end())
            return;
        for (LDAPMessage* e : it->second)
            m_entries.erase(e);
        m_chains.erase(it);
        m_count.store(m_entries.size());
    }
    void reclaim() {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::unordered_map<LDAPMessage*, std::vector<LDAPMessage*>>().swap(m_chains);
        std::unordered_map<LDAPMessage*, std::shared_ptr<const FoldSet>>().swap(m_entries);
        m_count.store(0);
    }
    std::shared_ptr<const FoldSet> namesFor(LDAPMessage* entry) {
        if (m_count.load() == 0)
            return nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_entries.find(entry);
        return it == m_entries.end() ? nullptr : it->second;
    }

  private:
    std::mutex m_mutex;
    std::atomic<size_t> m_count{0};
    std::unordered_map<LDAPMessage*, std::vector<LDAPMessage*>> m_chains;
    std::unordered_map<LDAPMessage*, std::shared_ptr<const FoldSet>> m_entries;
};

FoldTable& foldTable() {
    return immortal<FoldTable>();
}

// Unloading the library (or the end of the process) releases what the shared
// state holds.
struct Reclaim {
    ~Reclaim() {
        registry().reclaim();
        foldTable().reclaim();
        hostMemory().clear();
        Complaints& known = immortal<Complaints>();
        std::lock_guard<std::mutex> lock(known.mutex);
        std::set<std::string>().swap(known.traced);
    }
} s_reclaim;

void registerFold(const Connection& c, LDAP* walkLd, char** attrs, LDAPMessage* result) {
    if (!c.settings.foldBinary || result == nullptr)
        return;
    if (std::shared_ptr<const FoldSet> names = foldSetFor(attrs))
        foldTable().add(walkLd, result, std::move(names));
}

// name as the caller sees it: "X;binary" becomes "X" (in place) when X folds
// for this entry and the entry has no plain X of its own.
char* folded(LDAP* ld, LDAPMessage* entry, char* name) {
    size_t base = 0;
    if (name == nullptr || !endsWithBinary(name, &base))
        return name;
    std::shared_ptr<const FoldSet> names = foldTable().namesFor(entry);
    if (names == nullptr || names->count(lower(name, base)) == 0)
        return name;
    const std::string plain(name, base);
    berval** own = ldap_get_values_len(ld, entry, plain.c_str());
    if (own != nullptr) {
        ldap_value_free_len(own);
        return name;
    }
    name[base] = '\0';
    return name;
}

// ---------------------------------------------------------------- URL search

// The connection for a server named in a URL: reused when already open,
// otherwise opened with the primary's protocol version and bound anonymously.
int secondaryFor(Connection& c, const LDAPURLDesc* lud, Link** out, std::string* why) {
    const bool secure = lud->lud_scheme != nullptr && strcasecmp(lud->lud_scheme, "ldaps") == 0;
    const int port = lud->lud_port != 0 ? lud->lud_port : (secure ? LDAPS_PORT : LDAP_PORT);
    std::string host = lud->lud_host;
    if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    const std::string key =
        std::string(secure ? "ldaps" : "ldap") + "://" + host + ":" + std::to_string(port);
    auto found = c.secondaries.find(key);
    if (found != c.secondaries.end()) {
        *out = found->second.get();
        (*out)->watch.setDeadline(c.deadline, c.settings.deadline);
        return LDAP_SUCCESS;
    }
    int version = LDAP_VERSION3;
    ldap_get_option(c.primary->ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    std::unique_ptr<Link> link = openLink(key, c.settings, version);
    if (link == nullptr)
        return LDAP_NO_MEMORY;
    link->watch.setDeadline(c.deadline, c.settings.deadline);
    const int rc = simpleBind(*link, c.settings, nullptr, nullptr, why);
    if (rc != LDAP_SUCCESS)
        return rc;
    *out = link.get();
    c.secondaries.emplace(key, std::move(link));
    return LDAP_SUCCESS;
}

void dropSecondary(Connection& c, const Link* link) {
    for (auto it = c.secondaries.begin(); it != c.secondaries.end(); ++it) {
        if (it->second.get() == link) {
            c.secondaries.erase(it);
            return;
        }
    }
}

// The result code of a search's answer, noted for ryx_ldap_last_miss with the
// entries found and the DN the server matched.
int searchResult(LDAP* ld, LDAPMessage* answer, const char* base) {
    int code = LDAP_OTHER;
    char* matched = nullptr;
    const int rc = ldap_parse_result(ld, answer, &code, &matched, nullptr, nullptr, nullptr, 0);
    if (rc != LDAP_SUCCESS)
        code = rc;
    ryxldap::noteSearch(base, toApiCode(code), ldap_count_entries(ld, answer), matched);
    ldap_memfree(matched);
    return code;
}

int search(Connection& c, Link& link, const char* base, int scope, const char* filter, char** attrs,
           int attrsonly, timeval* timeout, LDAPMessage** result, std::string* why) {
    ryxldap::startProgress();
    int rc = exchange(
        link, c.settings,
        [&](LDAP* ld, int* id) {
            return ldap_search_ext(ld, base, scope, filter, attrs, attrsonly, nullptr, nullptr,
                                   timeout, LDAP_NO_LIMIT, id);
        },
        timeout, result, why);
    if (rc != LDAP_SUCCESS) {
        ryxldap::noteSearch(base, toApiCode(rc), 0, nullptr);
        return rc;
    }
    rc = searchResult(link.ld, *result, base);
    registerFold(c, link.ld, attrs, *result);
    return rc;
}

// A URL search (see ryx_ldap_url_search_st).
int urlSearch(LDAP* ld, const char* url, int attrsonly, timeval* timeout, LDAPMessage** result) {
    std::shared_ptr<Connection> c = registry().find(ld);
    if (c == nullptr)
        return unknownHandle();
    LDAPURLDesc* lud = nullptr;
    std::string why;
    const int parsed = ryxldap::parseUrl(url, &lud, &why);
    ryx::UniquePtr<LDAPURLDesc> owner(lud);
    if (parsed != LDAP_URL_SUCCESS)
        return finish(*c, parsed == LDAP_URL_ERR_BADEXTS ? LDAP_NOT_SUPPORTED : LDAP_PARAM_ERROR,
                      why, false);
    const int scope = lud->lud_scope == LDAP_SCOPE_DEFAULT ? LDAP_SCOPE_BASE : lud->lud_scope;
    const char* filter = lud->lud_filter != nullptr && *lud->lud_filter != '\0' ? lud->lud_filter
                                                                                : "(objectClass=*)";
    const char* base = lud->lud_dn != nullptr ? lud->lud_dn : "";
    if (lud->lud_host == nullptr || *lud->lud_host == '\0') {
        return onPrimary(ld, [&](Connection& conn, Link& link, std::string* reason) {
            return search(conn, link, base, scope, filter, lud->lud_attrs, attrsonly, timeout,
                          result, reason);
        });
    }
    if (c->closed())
        return finish(*c, c->closedCode, c->closedWhy, false);
    c->deadline = Watch::deadlineIn(c->settings.deadline);
    Link* target = nullptr;
    int rc = secondaryFor(*c, lud, &target, &why);
    if (rc == LDAP_SUCCESS)
        rc = search(*c, *target, base, scope, filter, lud->lud_attrs, attrsonly, timeout, result,
                    &why);
    if (target != nullptr && serverLost(rc))
        dropSecondary(*c, target);
    return finish(*c, rc, why, false);
}

// One page of a paged search (RFC 2696): the request carries the cookie of
// the page before (empty for the first), the answer the cookie of the next
// (empty after the last), which replaces *cookie.
int searchPage(Connection& c, Link& link, const char* base, int scope, const char* filter,
               char** attrs, int pageSize, berval* cookie, LDAPMessage** result, std::string* why) {
    LDAPControl* made = nullptr;
    int rc = ldap_create_page_control(link.ld, pageSize, cookie, 1, &made);
    ryx::UniquePtr<LDAPControl> page(made);
    if (rc != LDAP_SUCCESS)
        return rc;
    LDAPControl* controls[] = {page.get(), nullptr};
    rc = exchange(
        link, c.settings,
        [&](LDAP* ld, int* id) {
            return ldap_search_ext(ld, base, scope, filter, attrs, 0, controls, nullptr, nullptr,
                                   LDAP_NO_LIMIT, id);
        },
        nullptr, result, why);
    if (rc != LDAP_SUCCESS)
        return rc;
    int code = LDAP_OTHER;
    LDAPControl** got = nullptr;
    rc = ldap_parse_result(link.ld, *result, &code, nullptr, nullptr, nullptr, &got, 0);
    ryx::UniquePtr<LDAPControl*> answered(got);
    if (rc == LDAP_SUCCESS && code == LDAP_SUCCESS) {
        ber_memfree(cookie->bv_val);
        *cookie = berval{0, nullptr};
        LDAPControl* next = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, answered.get(), nullptr);
        ber_int_t estimate = 0;
        if (next != nullptr)
            rc = ldap_parse_pageresponse_control(link.ld, next, &estimate, cookie);
    }
    registerFold(c, link.ld, attrs, *result);
    return rc == LDAP_SUCCESS ? code : rc;
}

}  // namespace

void ryxldap::noteFailure(int apiCode, const std::string& why) {
    noteReason(apiCode, why);
}

extern "C" {

LDAP* ryx_ldap_init(const char* host, int port) {
    try {
        if (port <= 0 || port > 65535)
            port = LDAP_PORT;
        auto c = std::make_shared<Connection>();
        c->settings = currentSettings();
        std::string urls, why;
        bool parsed = ryxldap::hostListToUrls(host != nullptr ? host : "", port, &urls, &why);
        if (parsed && urls.empty()) {
            char* configured = nullptr;
            std::string hosts = "localhost";
            if (ldap_get_option(nullptr, LDAP_OPT_HOST_NAME, &configured) == LDAP_OPT_SUCCESS &&
                configured != nullptr) {
                if (*configured != '\0')
                    hosts = ryxldap::withoutPorts(configured);
                ldap_memfree(configured);
            }
            parsed = ryxldap::hostListToUrls(hosts, port, &urls, &why);
        }
        LDAP* handle = registry().add(c);
        if (handle == nullptr)
            return nullptr;
        if (parsed && urls.empty()) {
            parsed = false;
            why = "no host";
        }
        if (!parsed) {
            // Reported by the first operation, which says why.
            c->closedCode = LDAP_PARAM_ERROR;
            c->closedWhy = "host list: " + why;
            registry().closed(handle);
            return handle;
        }
        c->hosts = hostMemory().order(ryxldap::entries(urls));
        c->primary = openLink(c->hosts.front(), c->settings, LDAP_VERSION3);
        if (c->primary == nullptr) {
            registry().remove(handle);
            return nullptr;
        }
        return handle;
    } catch (...) {
        return nullptr;
    }
}

int ryx_ldap_msgfree(LDAPMessage* msg) {
    if (msg == nullptr)
        return 0;
    foldTable().release(msg);
    return ldap_msgfree(msg);
}

char* ryx_ldap_err2string(int rc) {
    if (rc != LDAP_SUCCESS && rc == t_reasonCode)
        return t_reasonText;
    return ldap_err2string(toOpenLdapCode(rc));
}

int ryx_ldap_set_option(LDAP* ld, int option, const void* value) {
    if (ld == nullptr)
        return toApiCode(ldap_set_option(nullptr, option, value));
    std::shared_ptr<Connection> c = registry().find(ld);
    if (c == nullptr)
        return unknownHandle();
    if (c->closed())
        return toApiCode(c->closedCode);
    return toApiCode(ldap_set_option(c->primary->ld, option, value));
}

int ryx_ldap_simple_bind_s(LDAP* ld, const char* dn, const char* password) {
    return onPrimary(ld, [&](Connection& c, Link& link, std::string* why) {
        const int rc = simpleBind(link, c.settings, dn, password, why);
        if (rc == LDAP_SUCCESS && c.hosts.size() > 1) {  // for the next host's connection
            forget(&c.bindPassword);
            c.bindPassword = password != nullptr ? password : "";
            c.bindDn = dn != nullptr ? dn : "";
            c.hasBind = true;
        }
        return rc;
    });
}

int ryx_ldap_unbind(LDAP* ld) {
    if (!registry().remove(ld))
        return unknownHandle();
    return LDAP_SUCCESS;
}

int ryx_ldap_search_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                       int attrsonly, struct timeval* timeout, LDAPMessage** result) {
    if (result == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    *result = nullptr;
    ryxldap::beginSearch();
    const int rc = onPrimary(ld, [&](Connection& c, Link& link, std::string* why) {
        return search(c, link, base, scope, filter, attrs, attrsonly, timeout, result, why);
    });
    ryxldap::endSearch(base, rc);
    return rc;
}

int ryx_ldap_search_page_st(LDAP* ld, const char* base, int scope, const char* filter, char** attrs,
                            int pageSize, struct berval* cookie, LDAPMessage** result) {
    if (result == nullptr || cookie == nullptr || pageSize <= 0)
        return toApiCode(LDAP_PARAM_ERROR);
    *result = nullptr;
    return onPrimary(
        ld,
        [&](Connection& c, Link& link, std::string* why) {
            return searchPage(c, link, base, scope, filter, attrs, pageSize, cookie, result, why);
        },
        cookie->bv_len == 0);
}

int ryx_ldap_url_search_st(LDAP* ld, const char* url, int attrsonly, struct timeval* timeout,
                           LDAPMessage** result) {
    if (result == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    *result = nullptr;
    ryxldap::beginSearch();
    const int rc = urlSearch(ld, url, attrsonly, timeout, result);
    ryxldap::endSearch("", rc);
    return rc;
}

int ryx_ldap_url_parse(const char* url, LDAPURLDesc** desc) {
    if (desc == nullptr)
        return LDAP_URL_ERR_PARAM;
    std::string why;
    return ryxldap::parseUrl(url, desc, &why);
}

void ryx_ldap_free_urldesc(LDAPURLDesc* desc) {
    if (desc != nullptr)
        ldap_free_urldesc(desc);
}

int ryx_ldap_count_entries(LDAP* ld, LDAPMessage* result) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || result == nullptr)
        return -1;
    return ldap_count_entries(walk, result);
}

int ryx_ldap_add_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    return onPrimary(
        ld,
        [&](Connection& c, Link& link, std::string* why) {
            return write(
                link, c.settings,
                [&](LDAP* l, int* id) { return ldap_add_ext(l, dn, mods, nullptr, nullptr, id); },
                why);
        },
        false);
}

int ryx_ldap_delete_s(LDAP* ld, const char* dn) {
    return onPrimary(
        ld,
        [&](Connection& c, Link& link, std::string* why) {
            return write(
                link, c.settings,
                [&](LDAP* l, int* id) { return ldap_delete_ext(l, dn, nullptr, nullptr, id); },
                why);
        },
        false);
}

int ryx_ldap_modify_s(LDAP* ld, const char* dn, LDAPMod** mods) {
    return onPrimary(
        ld,
        [&](Connection& c, Link& link, std::string* why) {
            return write(
                link, c.settings,
                [&](LDAP* l, int* id) {
                    return ldap_modify_ext(l, dn, mods, nullptr, nullptr, id);
                },
                why);
        },
        false);
}

int ryx_ldap_modrdn_s(LDAP* ld, const char* dn, const char* newrdn, int deleteoldrdn) {
    return onPrimary(
        ld,
        [&](Connection& c, Link& link, std::string* why) {
            return write(
                link, c.settings,
                [&](LDAP* l, int* id) {
                    return ldap_rename(l, dn, newrdn, nullptr, deleteoldrdn ? 1 : 0, nullptr,
                                       nullptr, id);
                },
                why);
        },
        false);
}

LDAPMessage* ryx_ldap_first_entry(LDAP* ld, LDAPMessage* result) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || result == nullptr)
        return nullptr;
    return ldap_first_entry(walk, result);
}

LDAPMessage* ryx_ldap_next_entry(LDAP* ld, LDAPMessage* entry) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || entry == nullptr)
        return nullptr;
    return ldap_next_entry(walk, entry);
}

char* ryx_ldap_get_dn(LDAP* ld, LDAPMessage* entry) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || entry == nullptr)
        return nullptr;
    return ldap_get_dn(walk, entry);
}

void ryx_ldap_memfree(void* p) {
    if (p != nullptr)
        ldap_memfree(p);
}

char* ryx_ldap_first_attribute(LDAP* ld, LDAPMessage* entry, BerElement** ber) {
    if (ber != nullptr)
        *ber = nullptr;
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || entry == nullptr || ber == nullptr)
        return nullptr;
    return folded(walk, entry, ldap_first_attribute(walk, entry, ber));
}

char* ryx_ldap_next_attribute(LDAP* ld, LDAPMessage* entry, BerElement* ber) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || entry == nullptr || ber == nullptr)
        return nullptr;
    return folded(walk, entry, ldap_next_attribute(walk, entry, ber));
}

struct berval** ryx_ldap_get_values_len(LDAP* ld, LDAPMessage* entry, const char* attr) {
    std::unique_lock<std::mutex> lock;
    LDAP* walk = walkerFor(ld, &lock);
    if (walk == nullptr || entry == nullptr || attr == nullptr)
        return nullptr;
    berval** values = ldap_get_values_len(walk, entry, attr);
    if (values == nullptr && std::strchr(attr, ';') == nullptr) {
        std::shared_ptr<const FoldSet> names = foldTable().namesFor(entry);
        if (names != nullptr && names->count(lower(attr, std::strlen(attr))) != 0)
            values = ldap_get_values_len(walk, entry, (std::string(attr) + ";binary").c_str());
    }
    return values;
}

void ryx_ldap_value_free_len(struct berval** values) {
    if (values != nullptr)
        ldap_value_free_len(values);
}

int ryx_ldap_get_errno(LDAP* ld) {
    std::shared_ptr<Connection> c = registry().find(ld);
    if (c == nullptr)
        return toApiCode(LDAP_PARAM_ERROR);
    return c->lastError;
}

void ryx_ldap_ber_free(BerElement* ber, int) {
    if (ber != nullptr)
        ber_free(ber, 0);
}

}  // extern "C"
