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
#include <memory>
#include <optional>
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
// A text as a call received it or a test gave it: null is kept apart from "".
using Text = std::optional<std::string>;
Text textOf(const char* s) {
    return s == nullptr ? Text() : Text(s);
}
const char* get(const Text& t) {
    return t ? t->c_str() : nullptr;
}
struct Entry {
    Text dn;
    std::vector<Attribute> attributes;
};
}  // namespace

struct ldap {
    int lastError = 0;
};

// A result message owns its entry messages, chained through next.
struct ldapmsg {
    Entry entry;
    std::vector<std::unique_ptr<ldapmsg>> entries;  // result only
    ldapmsg* next = nullptr;
};

struct berelement {
    size_t index = 0;
};

namespace {
struct State {
    std::vector<Entry> entries;
    std::map<std::string, std::deque<int>> results;
    std::optional<int> count, errnoValue;  // set while overridden
    std::vector<std::string> calls;
    Text initHost, bindDn, searchBase, searchFilter, url, dn;
    const void* passwordPointer = nullptr;
    std::string searchAttrs, mods;
    int version = -1;
    int searchScope = -1;
    const void* searchTimeout = nullptr;
    int live = 0;
};

State& state() {
    static State s;
    return s;
}

// Connections not unbound yet. A caller may forget one (the plug-in does after
// a lost server); like the toolkit's own library, the fake reclaims those when
// it is unloaded. Kept apart from State, which fake_reset replaces.
std::map<ldap*, std::unique_ptr<ldap>>& openConnections() {
    static std::map<ldap*, std::unique_ptr<ldap>> open;
    return open;
}

// A value as " [<length>:<hex>]".
std::string describe(const berval* v) {
    std::string out = " [" + std::to_string(v->bv_len) + ":";
    char two[3];
    for (ber_len_t i = 0; i < v->bv_len; ++i) {
        snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(v->bv_val[i]));
        out += two;
    }
    return out + "]";
}

void record(const std::string& call) {
    state().calls.push_back(call);
}

// A call recorded and answered with its next scripted code (0 when none is
// queued), which the connection keeps.
int answer(const char* function, LDAP* ld) {
    record(function);
    auto& queue = state().results[function];
    const int rc = queue.empty() ? 0 : queue.front();
    if (!queue.empty())
        queue.pop_front();
    if (ld != nullptr)
        ld->lastError = rc;
    return rc;
}

// Frees what was handed out, when it is there, and counts it back.
template <typename T, typename Free>
void release(T* p, Free free) {
    if (p != nullptr) {
        free(p);
        --state().live;
    }
}

char* copyText(const std::string& s) {
    char* p = static_cast<char*>(malloc(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    ++state().live;
    return p;
}

ldapmsg* makeResult() {
    ldapmsg* result = new ldapmsg;
    for (const Entry& e : state().entries) {
        auto m = std::make_unique<ldapmsg>();
        m->entry = e;
        if (!result->entries.empty())
            result->entries.back()->next = m.get();
        result->entries.push_back(std::move(m));
    }
    ++state().live;
    return result;
}

// Values are read as bervals whatever mod_op says; mod_op shows the flag.
std::string describeMods(LDAPMod** mods) {
    if (mods[0] == nullptr)
        return "(empty)";
    std::string out;
    for (size_t i = 0; mods[i] != nullptr; ++i) {
        LDAPMod* m = mods[i];
        size_t n = 0;
        std::string values;
        for (; m->mod_bvalues != nullptr && m->mod_bvalues[n] != nullptr; ++n)
            values += describe(m->mod_bvalues[n]);
        out += std::string(i > 0 ? "\n" : "") + "op=" + std::to_string(m->mod_op) +
               " type=" + (m->mod_type == nullptr ? "NULL" : m->mod_type) +
               " n=" + std::to_string(n) + values;
    }
    return out;
}

// A copy of the name of an entry's attribute, null past the last one.
char* attributeName(LDAPMessage* entry, size_t index) {
    if (entry == nullptr || index >= entry->entry.attributes.size())
        return nullptr;
    return copyText(entry->entry.attributes[index].name);
}

int write(const char* name, LDAP* ld, const char* dn, LDAPMod** mods) {
    state().dn = textOf(dn);
    if (mods != nullptr)
        state().mods = describeMods(mods);
    return answer(name, ld);
}

Attribute& attributeOfLastEntry(const char* attr) {
    State& s = state();
    if (s.entries.empty())
        s.entries.emplace_back();
    for (Attribute& a : s.entries.back().attributes) {
        if (a.name == attr)
            return a;
    }
    s.entries.back().attributes.push_back(Attribute{attr, false, {}});
    return s.entries.back().attributes.back();
}
}  // namespace

extern "C" {

// ---- the C LDAP API ----

EXPORT LDAP* API(ldap_init)(const char* host, int) {
    state().initHost = textOf(host);
    if (answer("ldap_init", nullptr) != 0)
        return nullptr;
    ldap* ld = new ldap;
    openConnections()[ld].reset(ld);
    return ld;
}

EXPORT int API(ldap_msgfree)(LDAPMessage* msg) {
    record("ldap_msgfree");
    const int rc = msg == nullptr ? 0 : LDAP_RES_SEARCH_RESULT;  // msg is not read once freed
    release(msg, std::default_delete<ldapmsg>());
    return rc;
}

EXPORT char* API(ldap_err2string)(int rc) {
    record("ldap_err2string");
    static const std::map<int, const char*> texts = {{0, "Success"},
                                                     {32, "No such object"},
                                                     {49, "Invalid credentials"},
                                                     {50, "Insufficient access"},
                                                     {81, "Can't contact LDAP server"},
                                                     {91, "Connect error"}};
    const auto it = texts.find(rc);
    return const_cast<char*>(it != texts.end() ? it->second : "Unknown error");
}

EXPORT int API(ldap_set_option)(LDAP* ld, int option, const void* value) {
    if (option == LDAP_OPT_PROTOCOL_VERSION && value != nullptr)
        state().version = *static_cast<const int*>(value);
    return answer("ldap_set_option", ld);
}

EXPORT int API(ldap_simple_bind_s)(LDAP* ld, const char* dn, const char* password) {
    State& s = state();
    s.bindDn = textOf(dn);
    s.passwordPointer = password;
    return answer("ldap_simple_bind_s", ld);
}

EXPORT int API(ldap_unbind)(LDAP* ld) {
    const int rc = answer("ldap_unbind", nullptr);  // a handle not open is refused
    return openConnections().erase(ld) == 0 ? LDAP_PARAM_ERROR : rc;
}

EXPORT int API(ldap_search_st)(LDAP* ld, const char* base, int scope, const char* filter,
                               char** attrs, int, struct timeval* timeout, LDAPMessage** result) {
    State& s = state();
    s.searchBase = textOf(base);
    s.searchFilter = textOf(filter);
    s.searchScope = scope;
    s.searchTimeout = timeout;
    s.searchAttrs = attrs == nullptr ? "NULL" : "";
    for (size_t i = 0; attrs != nullptr && attrs[i] != nullptr; ++i)
        s.searchAttrs += (i > 0 ? "," : "") + std::string(attrs[i]);
    if (result != nullptr)
        *result = makeResult();
    return answer("ldap_search_st", ld);
}

#ifndef FAKE_NO_URL
EXPORT int API(ldap_url_search_st)(LDAP* ld, const char* url, int, struct timeval* timeout,
                                   LDAPMessage** result) {
    State& s = state();
    s.url = textOf(url);
    s.searchTimeout = timeout;
    if (ld != nullptr && result != nullptr)
        *result = makeResult();
    const int rc = answer("ldap_url_search_st", ld);
    return ld == nullptr ? LDAP_SERVER_DOWN : rc;
}

EXPORT int API(ldap_url_parse)(const char* url, LDAPURLDesc** desc) {
    record("ldap_url_parse");
    if (url == nullptr || desc == nullptr)
        return LDAP_URL_ERR_PARAM;
    const char* rest = strstr(url, "://");
    if (rest == nullptr || strncasecmp(url, "ldap", 4) != 0)
        return LDAP_URL_ERR_BADSCHEME;
    rest += 3;
    // The client reads only the host: one block holds it after the description.
    const size_t length = strcspn(rest, ":/?");
    LDAPURLDesc* d = static_cast<LDAPURLDesc*>(calloc(1, sizeof(LDAPURLDesc) + length + 1));
    if (strcspn(rest, "/?") != 0)
        d->lud_host = static_cast<char*>(memcpy(d + 1, rest, length));
    ++state().live;
    *desc = d;
    return LDAP_URL_SUCCESS;
}

EXPORT void API(ldap_free_urldesc)(LDAPURLDesc* desc) {
    record("ldap_free_urldesc");
    release(desc, free);
}
#endif

#ifndef FAKE_NO_COUNT
EXPORT int API(ldap_count_entries)(LDAP*, LDAPMessage* result) {
    record("ldap_count_entries");
    return state().count.value_or(result == nullptr ? -1
                                                    : static_cast<int>(result->entries.size()));
}
#endif

EXPORT int API(ldap_add_s)(LDAP* ld, const char* dn, LDAPMod** mods) {
    return write("ldap_add_s", ld, dn, mods);
}

EXPORT int API(ldap_delete_s)(LDAP* ld, const char* dn) {
    return write("ldap_delete_s", ld, dn, nullptr);
}

EXPORT int API(ldap_modify_s)(LDAP* ld, const char* dn, LDAPMod** mods) {
    return write("ldap_modify_s", ld, dn, mods);
}

EXPORT int API(ldap_modrdn_s)(LDAP* ld, const char* dn, const char*, int) {
    return write("ldap_modrdn_s", ld, dn, nullptr);
}

EXPORT LDAPMessage* API(ldap_first_entry)(LDAP*, LDAPMessage* result) {
    record("ldap_first_entry");
    return result == nullptr || result->entries.empty() ? nullptr : result->entries.front().get();
}

EXPORT LDAPMessage* API(ldap_next_entry)(LDAP*, LDAPMessage* entry) {
    record("ldap_next_entry");
    return entry == nullptr ? nullptr : entry->next;
}

EXPORT char* API(ldap_get_dn)(LDAP*, LDAPMessage* entry) {
    record("ldap_get_dn");
    if (entry == nullptr || !entry->entry.dn)
        return nullptr;
    return copyText(*entry->entry.dn);
}

EXPORT void API(ldap_memfree)(void* p) {
    record("ldap_memfree");
    release(p, free);
}

EXPORT char* API(ldap_first_attribute)(LDAP*, LDAPMessage* entry, BerElement** ber) {
    record("ldap_first_attribute");
    if (ber == nullptr)
        return nullptr;
    *ber = new berelement;
    ++state().live;
    return attributeName(entry, 0);
}

EXPORT char* API(ldap_next_attribute)(LDAP*, LDAPMessage* entry, BerElement* ber) {
    record("ldap_next_attribute");
    return ber == nullptr ? nullptr : attributeName(entry, ++ber->index);
}

EXPORT struct berval** API(ldap_get_values_len)(LDAP*, LDAPMessage* entry, const char* attr) {
    record("ldap_get_values_len");
    if (entry == nullptr || attr == nullptr)
        return nullptr;
    for (const Attribute& a : entry->entry.attributes) {
        if (strcasecmp(a.name.c_str(), attr) != 0)
            continue;
        if (a.withoutValues)
            return nullptr;
        struct berval** values = nullptr;  // each a copy that ends with a NUL
        for (const std::string& v : a.values)
            ber_bvecadd(&values, ber_mem2bv(v.data(), v.size(), 1, nullptr));
        ++state().live;
        return values;
    }
    return nullptr;
}

EXPORT void API(ldap_value_free_len)(struct berval** values) {
    record("ldap_value_free_len");
    release(values, ber_bvecfree);
}

#ifndef FAKE_NO_ERRNO_BERFREE
EXPORT int API(ldap_get_errno)(LDAP* ld) {
    record("ldap_get_errno");
    return state().errnoValue.value_or(ld == nullptr ? LDAP_PARAM_ERROR : ld->lastError);
}

// The published two-argument form: freebuf is recorded, and the buffer is the
// entry's whatever it says.
EXPORT void API(ldap_ber_free)(BerElement* ber, int freebuf) {
    record("ldap_ber_free(" + std::to_string(freebuf) + ")");
    release(ber, std::default_delete<berelement>());
}
#endif

// ---- controls ----

EXPORT void fake_reset(void) {
    const int live = state().live;
    state() = State();
    state().live = live;
}

EXPORT void fake_add_entry(const char* dn) {
    state().entries.push_back(Entry{textOf(dn), {}});
}

EXPORT void fake_add_value(const char* attr, const void* bytes, size_t length) {
    attributeOfLastEntry(attr).values.emplace_back(static_cast<const char*>(bytes), length);
}

EXPORT void fake_add_attribute_without_values(const char* attr) {
    attributeOfLastEntry(attr).withoutValues = true;
}

EXPORT void fake_push_result(const char* function, int rc) {
    state().results[function].push_back(rc);
}
EXPORT void fake_set_count_override(int enabled, int count) {
    state().count = enabled != 0 ? std::optional<int>(count) : std::nullopt;
}
EXPORT void fake_set_errno_override(int enabled, int value) {
    state().errnoValue = enabled != 0 ? std::optional<int>(value) : std::nullopt;
}

EXPORT int fake_call_count(const char* prefix) {
    int n = 0;
    for (const std::string& c : state().calls)
        n += c.compare(0, strlen(prefix), prefix) == 0 ? 1 : 0;
    return n;
}

// The other details are read straight from the state.
#define FAKE_LAST(type, name, value)     \
    EXPORT type fake_last_##name(void) { \
        return value;                    \
    }
FAKE_LAST(const char*, init_host, get(state().initHost))
FAKE_LAST(int, protocol_version, state().version)
FAKE_LAST(const char*, bind_dn, get(state().bindDn))
FAKE_LAST(const void*, bind_password_pointer, state().passwordPointer)
FAKE_LAST(const char*, search_base, get(state().searchBase))
FAKE_LAST(const char*, search_filter, get(state().searchFilter))
FAKE_LAST(int, search_scope, state().searchScope)
FAKE_LAST(const char*, search_attrs, state().searchAttrs.c_str())
FAKE_LAST(const void*, search_timeout, state().searchTimeout)
FAKE_LAST(const char*, url, get(state().url))
FAKE_LAST(const char*, dn, get(state().dn))
FAKE_LAST(const char*, mods, state().mods.c_str())
#undef FAKE_LAST

EXPORT int fake_live_allocations(void) {
    return state().live;
}
EXPORT int fake_open_connections(void) {
    return static_cast<int>(openConnections().size());
}
}
