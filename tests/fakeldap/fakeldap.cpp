// Scriptable fake of a C LDAP API client library for the plug-in's unit tests.
// One source builds every variant: FAKE_PREFIXED names the API functions with
// the ryx_ prefix, FAKE_NO_URL / FAKE_NO_ERRNO_BERFREE / FAKE_NO_COUNT leave
// functions out. The controls are declared in fakeldap_control.h.
#include <ldap.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fakeldap_control.h"

#define EXPORT __attribute__((visibility("default")))
#ifdef FAKE_PREFIXED
#define API(name) ryx_##name
#else
#define API(name) name
#endif

namespace {
struct Attribute {
    std::string name;
    bool withoutValues = false;
    std::vector<std::string> values;
};
struct Entry {
    bool hasDn = true;
    std::string dn;
    std::vector<Attribute> attributes;
};
}  // namespace

struct ldap {
    int lastError = 0;
};

// A result message owns its entry messages, chained through next.
struct ldapmsg {
    bool isResult = false;
    Entry entry;
    std::vector<ldapmsg*> entries;  // result only
    ldapmsg* next = nullptr;
};

struct berelement {
    size_t index = 0;
};

namespace {
struct State {
    std::vector<Entry> entries;
    std::map<std::string, std::deque<int>> results;
    bool initFails = false;
    bool countOverride = false;
    int count = 0;
    bool errnoOverride = false;
    int errnoValue = 0;
    std::vector<std::string> calls;
    std::string text;  // backing store of the last returned log text
    bool initHostNull = false;
    std::string initHost;
    int initPort = 0;
    int version = -1;
    bool bindDnNull = false;
    std::string bindDn;
    bool passwordNull = true;
    std::string password;
    const void* passwordPointer = nullptr;
    std::string searchBase, searchFilter, searchAttrs, url, dn, newRdn, mods;
    int searchScope = -1;
    const void* searchTimeout = nullptr;
    int deleteOldRdn = -1;
    int live = 0;
    int connections = 0;
};

State& state() {
    static State s;
    return s;
}

// Connections not unbound yet. A caller may forget one (the plug-in does after
// a lost server); like the toolkit's own library, the fake reclaims those when
// it is unloaded. Kept apart from State, which fake_reset replaces.
struct OpenConnections {
    std::set<ldap*> open;
    OpenConnections() = default;
    OpenConnections(const OpenConnections&) = delete;
    OpenConnections& operator=(const OpenConnections&) = delete;
    ~OpenConnections() {
        for (ldap* ld : open) {
            delete ld;
        }
    }
};

std::set<ldap*>& openConnections() {
    static OpenConnections c;
    return c.open;
}

std::string quote(const char* s) {
    return s == nullptr ? "NULL" : "\"" + std::string(s) + "\"";
}

std::string hex(const void* bytes, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

void record(const std::string& call) {
    state().calls.push_back(call);
}

int take(const char* function) {
    auto& queue = state().results[function];
    if (queue.empty()) {
        return 0;
    }
    int rc = queue.front();
    queue.pop_front();
    return rc;
}

int finish(LDAP* ld, int rc) {
    if (ld != nullptr) {
        ld->lastError = rc;
    }
    return rc;
}

char* copyText(const std::string& s) {
    char* p = static_cast<char*>(malloc(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    ++state().live;
    return p;
}

ldapmsg* makeResult() {
    ldapmsg* result = new ldapmsg;
    result->isResult = true;
    for (const Entry& e : state().entries) {
        ldapmsg* m = new ldapmsg;
        m->entry = e;
        if (!result->entries.empty()) {
            result->entries.back()->next = m;
        }
        result->entries.push_back(m);
    }
    ++state().live;
    return result;
}

std::string describeMods(LDAPMod** mods) {
    if (mods == nullptr) {
        return "NULL";
    }
    if (mods[0] == nullptr) {
        return "(empty)";
    }
    std::string out;
    for (size_t i = 0; mods[i] != nullptr; ++i) {
        LDAPMod* m = mods[i];
        size_t n = 0;
        std::string values;
        if (m->mod_op & LDAP_MOD_BVALUES) {
            for (; m->mod_bvalues != nullptr && m->mod_bvalues[n] != nullptr; ++n) {
                values += " [" + std::to_string(m->mod_bvalues[n]->bv_len) + ":" +
                          hex(m->mod_bvalues[n]->bv_val, m->mod_bvalues[n]->bv_len) + "]";
            }
        } else {
            for (; m->mod_values != nullptr && m->mod_values[n] != nullptr; ++n) {
                values += " [" + std::to_string(strlen(m->mod_values[n])) + ":" +
                          hex(m->mod_values[n], strlen(m->mod_values[n])) + "]";
            }
        }
        if (!out.empty()) {
            out += "\n";
        }
        out += "op=" + std::to_string(m->mod_op) + " type=" +
               (m->mod_type == nullptr ? std::string("NULL") : std::string(m->mod_type)) +
               " n=" + std::to_string(n) + values;
    }
    return out;
}

const char* keep(const std::string& s) {
    state().text = s;
    return state().text.c_str();
}
}  // namespace

extern "C" {

// ---- the C LDAP API ----

EXPORT LDAP* API(ldap_init)(const char* host, int port) {
    State& s = state();
    record("ldap_init(" + quote(host) + ", " + std::to_string(port) + ")");
    s.initHostNull = host == nullptr;
    s.initHost = host == nullptr ? "" : host;
    s.initPort = port;
    if (s.initFails) {
        return nullptr;
    }
    ++s.connections;
    ldap* ld = new ldap;
    openConnections().insert(ld);
    return ld;
}

EXPORT int API(ldap_msgfree)(LDAPMessage* msg) {
    record("ldap_msgfree()");
    if (msg == nullptr) {
        return 0;
    }
    for (ldapmsg* e : msg->entries) {
        delete e;
    }
    delete msg;
    --state().live;
    return LDAP_RES_SEARCH_RESULT;
}

EXPORT char* API(ldap_err2string)(int rc) {
    record("ldap_err2string(" + std::to_string(rc) + ")");
    switch (rc) {
        case 0:
            return const_cast<char*>("Success");
        case 32:
            return const_cast<char*>("No such object");
        case 49:
            return const_cast<char*>("Invalid credentials");
        case 50:
            return const_cast<char*>("Insufficient access");
        case 68:
            return const_cast<char*>("Already exists");
        case 81:
            return const_cast<char*>("Can't contact LDAP server");
        case 91:
            return const_cast<char*>("Connect error");
        default:
            return const_cast<char*>("Unknown error");
    }
}

EXPORT int API(ldap_set_option)(LDAP* ld, int option, const void* value) {
    record("ldap_set_option(" + std::to_string(option) + ")");
    if (option == LDAP_OPT_PROTOCOL_VERSION && value != nullptr) {
        state().version = *static_cast<const int*>(value);
    }
    return finish(ld, take("ldap_set_option"));
}

EXPORT int API(ldap_simple_bind_s)(LDAP* ld, const char* dn, const char* password) {
    State& s = state();
    s.bindDnNull = dn == nullptr;
    s.bindDn = dn == nullptr ? "" : dn;
    s.passwordNull = password == nullptr;
    s.password = password == nullptr ? "" : password;
    s.passwordPointer = password;
    record("ldap_simple_bind_s(" + quote(dn) + ", " +
           (password == nullptr ? std::string("NULL") : hex(password, strlen(password))) + ")");
    return finish(ld, take("ldap_simple_bind_s"));
}

EXPORT int API(ldap_unbind)(LDAP* ld) {
    record("ldap_unbind()");
    if (ld == nullptr) {
        return LDAP_PARAM_ERROR;
    }
    int rc = take("ldap_unbind");
    openConnections().erase(ld);
    delete ld;
    --state().connections;
    return rc;
}

EXPORT int API(ldap_search_st)(LDAP* ld, const char* base, int scope, const char* filter,
                               char** attrs, int attrsonly, struct timeval* timeout,
                               LDAPMessage** result) {
    State& s = state();
    s.searchBase = base == nullptr ? "NULL" : base;
    s.searchFilter = filter == nullptr ? "NULL" : filter;
    s.searchScope = scope;
    s.searchTimeout = timeout;
    std::string list;
    if (attrs == nullptr) {
        list = "NULL";
    } else {
        for (size_t i = 0; attrs[i] != nullptr; ++i) {
            list += (i > 0 ? "," : "") + std::string(attrs[i]);
        }
    }
    s.searchAttrs = list;
    record("ldap_search_st(" + quote(base) + ", " + std::to_string(scope) + ", " + quote(filter) +
           ", " + list + ", " + std::to_string(attrsonly) + ")");
    int rc = take("ldap_search_st");
    if (result != nullptr) {
        *result = makeResult();
    }
    return finish(ld, rc);
}

#ifndef FAKE_NO_URL
EXPORT int API(ldap_url_search_st)(LDAP* ld, const char* url, int attrsonly,
                                   struct timeval* timeout, LDAPMessage** result) {
    State& s = state();
    s.url = url == nullptr ? "NULL" : url;
    s.searchTimeout = timeout;
    record("ldap_url_search_st(" + quote(url) + ", " + std::to_string(attrsonly) + ")");
    int rc = ld == nullptr ? LDAP_SERVER_DOWN : take("ldap_url_search_st");
    if (result != nullptr && ld != nullptr) {
        *result = makeResult();
    }
    return finish(ld, rc);
}

EXPORT int API(ldap_url_parse)(const char* url, LDAPURLDesc** desc) {
    record("ldap_url_parse(" + quote(url) + ")");
    if (url == nullptr || desc == nullptr) {
        return LDAP_URL_ERR_PARAM;
    }
    const char* rest = strstr(url, "://");
    if (rest == nullptr || strncasecmp(url, "ldap", 4) != 0) {
        return LDAP_URL_ERR_BADSCHEME;
    }
    rest += 3;
    const char* end = rest + strcspn(rest, "/?");
    LDAPURLDesc* d = static_cast<LDAPURLDesc*>(calloc(1, sizeof(LDAPURLDesc)));
    std::string hostport(rest, end);
    if (!hostport.empty()) {
        size_t colon = hostport.rfind(':');
        std::string host = colon == std::string::npos ? hostport : hostport.substr(0, colon);
        d->lud_host = strdup(host.c_str());
        d->lud_port = colon == std::string::npos ? 389 : atoi(hostport.c_str() + colon + 1);
    }
    if (*end == '/') {
        std::string dn(end + 1, end + 1 + strcspn(end + 1, "?"));
        d->lud_dn = strdup(dn.c_str());
    }
    ++state().live;
    *desc = d;
    return LDAP_URL_SUCCESS;
}

EXPORT void API(ldap_free_urldesc)(LDAPURLDesc* desc) {
    record("ldap_free_urldesc()");
    if (desc == nullptr) {
        return;
    }
    free(desc->lud_host);
    free(desc->lud_dn);
    free(desc);
    --state().live;
}
#endif

#ifndef FAKE_NO_COUNT
EXPORT int API(ldap_count_entries)(LDAP* ld, LDAPMessage* result) {
    (void)ld;
    record("ldap_count_entries()");
    if (state().countOverride) {
        return state().count;
    }
    return result == nullptr ? -1 : static_cast<int>(result->entries.size());
}
#endif

EXPORT int API(ldap_add_s)(LDAP* ld, const char* dn, LDAPMod** mods) {
    state().dn = dn == nullptr ? "NULL" : dn;
    state().mods = describeMods(mods);
    record("ldap_add_s(" + quote(dn) + ")");
    return finish(ld, take("ldap_add_s"));
}

EXPORT int API(ldap_delete_s)(LDAP* ld, const char* dn) {
    state().dn = dn == nullptr ? "NULL" : dn;
    record("ldap_delete_s(" + quote(dn) + ")");
    return finish(ld, take("ldap_delete_s"));
}

EXPORT int API(ldap_modify_s)(LDAP* ld, const char* dn, LDAPMod** mods) {
    state().dn = dn == nullptr ? "NULL" : dn;
    state().mods = describeMods(mods);
    record("ldap_modify_s(" + quote(dn) + ")");
    return finish(ld, take("ldap_modify_s"));
}

EXPORT int API(ldap_modrdn_s)(LDAP* ld, const char* dn, const char* newrdn, int deleteoldrdn) {
    State& s = state();
    s.dn = dn == nullptr ? "NULL" : dn;
    s.newRdn = newrdn == nullptr ? "NULL" : newrdn;
    s.deleteOldRdn = deleteoldrdn;
    record("ldap_modrdn_s(" + quote(dn) + ", " + quote(newrdn) + ", " +
           std::to_string(deleteoldrdn) + ")");
    return finish(ld, take("ldap_modrdn_s"));
}

EXPORT LDAPMessage* API(ldap_first_entry)(LDAP* ld, LDAPMessage* result) {
    (void)ld;
    record("ldap_first_entry()");
    return result == nullptr || result->entries.empty() ? nullptr : result->entries.front();
}

EXPORT LDAPMessage* API(ldap_next_entry)(LDAP* ld, LDAPMessage* entry) {
    (void)ld;
    record("ldap_next_entry()");
    return entry == nullptr ? nullptr : entry->next;
}

EXPORT char* API(ldap_get_dn)(LDAP* ld, LDAPMessage* entry) {
    (void)ld;
    record("ldap_get_dn()");
    if (entry == nullptr || !entry->entry.hasDn) {
        return nullptr;
    }
    return copyText(entry->entry.dn);
}

EXPORT void API(ldap_memfree)(void* p) {
    record("ldap_memfree()");
    if (p != nullptr) {
        free(p);
        --state().live;
    }
}

EXPORT char* API(ldap_first_attribute)(LDAP* ld, LDAPMessage* entry, BerElement** ber) {
    (void)ld;
    record("ldap_first_attribute()");
    if (entry == nullptr || ber == nullptr) {
        return nullptr;
    }
    *ber = new berelement;
    ++state().live;
    if (entry->entry.attributes.empty()) {
        return nullptr;
    }
    return copyText(entry->entry.attributes[0].name);
}

EXPORT char* API(ldap_next_attribute)(LDAP* ld, LDAPMessage* entry, BerElement* ber) {
    (void)ld;
    record("ldap_next_attribute()");
    if (entry == nullptr || ber == nullptr) {
        return nullptr;
    }
    ++ber->index;
    if (ber->index >= entry->entry.attributes.size()) {
        return nullptr;
    }
    return copyText(entry->entry.attributes[ber->index].name);
}

EXPORT struct berval** API(ldap_get_values_len)(LDAP* ld, LDAPMessage* entry, const char* attr) {
    (void)ld;
    record("ldap_get_values_len(" + quote(attr) + ")");
    if (entry == nullptr || attr == nullptr) {
        return nullptr;
    }
    for (const Attribute& a : entry->entry.attributes) {
        if (strcasecmp(a.name.c_str(), attr) != 0) {
            continue;
        }
        if (a.withoutValues) {
            return nullptr;
        }
        struct berval** values =
            static_cast<struct berval**>(calloc(a.values.size() + 1, sizeof(struct berval*)));
        for (size_t i = 0; i < a.values.size(); ++i) {
            values[i] = static_cast<struct berval*>(malloc(sizeof(struct berval)));
            values[i]->bv_len = a.values[i].size();
            values[i]->bv_val = static_cast<char*>(malloc(a.values[i].size() + 1));
            memcpy(values[i]->bv_val, a.values[i].data(), a.values[i].size());
            values[i]->bv_val[a.values[i].size()] = '\0';
        }
        ++state().live;
        return values;
    }
    return nullptr;
}

EXPORT void API(ldap_value_free_len)(struct berval** values) {
    record("ldap_value_free_len()");
    if (values == nullptr) {
        return;
    }
    for (size_t i = 0; values[i] != nullptr; ++i) {
        free(values[i]->bv_val);
        free(values[i]);
    }
    free(values);
    --state().live;
}

#ifndef FAKE_NO_ERRNO_BERFREE
EXPORT int API(ldap_get_errno)(LDAP* ld) {
    record("ldap_get_errno()");
    if (state().errnoOverride) {
        return state().errnoValue;
    }
    return ld == nullptr ? LDAP_PARAM_ERROR : ld->lastError;
}

// The published two-argument form: freebuf is recorded, and the buffer is the
// entry's whatever it says.
EXPORT void API(ldap_ber_free)(BerElement* ber, int freebuf) {
    record("ldap_ber_free(" + std::to_string(freebuf) + ")");
    if (ber != nullptr) {
        delete ber;
        --state().live;
    }
}
#endif

// ---- controls ----

EXPORT void fake_reset(void) {
    State& s = state();
    int live = s.live;
    int connections = s.connections;
    s = State();
    s.live = live;
    s.connections = connections;
}

EXPORT void fake_add_entry(const char* dn) {
    Entry e;
    e.hasDn = dn != nullptr;
    e.dn = dn == nullptr ? "" : dn;
    state().entries.push_back(e);
}

namespace {
Attribute& attributeOfLastEntry(const char* attr) {
    State& s = state();
    if (s.entries.empty()) {
        fake_add_entry("");
    }
    for (Attribute& a : s.entries.back().attributes) {
        if (a.name == attr) {
            return a;
        }
    }
    s.entries.back().attributes.push_back(Attribute{attr, false, {}});
    return s.entries.back().attributes.back();
}
}  // namespace

EXPORT void fake_add_value(const char* attr, const void* bytes, size_t length) {
    attributeOfLastEntry(attr).values.emplace_back(static_cast<const char*>(bytes), length);
}

EXPORT void fake_add_attribute_without_values(const char* attr) {
    attributeOfLastEntry(attr).withoutValues = true;
}

EXPORT void fake_push_result(const char* function, int rc) {
    state().results[function].push_back(rc);
}
EXPORT void fake_set_init_fails(int fails) {
    state().initFails = fails != 0;
}
EXPORT void fake_set_count_override(int enabled, int count) {
    state().countOverride = enabled != 0;
    state().count = count;
}
EXPORT void fake_set_errno_override(int enabled, int value) {
    state().errnoOverride = enabled != 0;
    state().errnoValue = value;
}

EXPORT const char* fake_call_log(void) {
    std::string all;
    for (const std::string& c : state().calls) {
        all += (all.empty() ? "" : "\n") + c;
    }
    return keep(all);
}

EXPORT int fake_call_count(const char* function) {
    std::string prefix = std::string(function) + "(";
    int n = 0;
    for (const std::string& c : state().calls) {
        n += c.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    }
    return n;
}

EXPORT const char* fake_last_init_host(void) {
    return state().initHostNull ? nullptr : keep(state().initHost);
}
EXPORT int fake_last_init_port(void) {
    return state().initPort;
}
EXPORT int fake_last_protocol_version(void) {
    return state().version;
}
EXPORT const char* fake_last_bind_dn(void) {
    return state().bindDnNull ? nullptr : keep(state().bindDn);
}
EXPORT int fake_last_bind_password(unsigned char* out, size_t room) {
    if (state().passwordNull) {
        return -1;
    }
    size_t n = state().password.size() < room ? state().password.size() : room;
    memcpy(out, state().password.data(), n);
    return static_cast<int>(state().password.size());
}
EXPORT const void* fake_last_bind_password_pointer(void) {
    return state().passwordPointer;
}
EXPORT const char* fake_last_search_base(void) {
    return keep(state().searchBase);
}
EXPORT const char* fake_last_search_filter(void) {
    return keep(state().searchFilter);
}
EXPORT int fake_last_search_scope(void) {
    return state().searchScope;
}
EXPORT const char* fake_last_search_attrs(void) {
    return keep(state().searchAttrs);
}
EXPORT const void* fake_last_search_timeout(void) {
    return state().searchTimeout;
}
EXPORT const char* fake_last_url(void) {
    return keep(state().url);
}
EXPORT int fake_last_deleteoldrdn(void) {
    return state().deleteOldRdn;
}
EXPORT const char* fake_last_dn(void) {
    return keep(state().dn);
}
EXPORT const char* fake_last_newrdn(void) {
    return keep(state().newRdn);
}
EXPORT const char* fake_last_mods(void) {
    return keep(state().mods);
}
EXPORT int fake_live_allocations(void) {
    return state().live;
}
EXPORT int fake_open_connections(void) {
    return state().connections;
}
}
