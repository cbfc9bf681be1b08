// Control interface of the scriptable fake LDAP C API library.
//
// The fake exports the 25 C LDAP API functions the plug-in binds (bare names, or
// with the ryx_ prefix in the prefixed variant) and these fake_* control
// functions. A test reaches the controls with dlopen on the same path that the
// plug-in's client loads: the loader hands back the same instance, so the test
// scripts and inspects exactly what the client sees (see FakeLdap below).
//
// Behaviour: ldap_init returns a new connection (or null when scripted to fail);
// ldap_search_st / ldap_url_search_st return every canned entry (the fake does not
// evaluate filters) as a message chain; the first/next/get_dn/attribute/value
// walk hands out heap copies that must be released with the matching free
// function. Every call is recorded. Live allocations are counted so that a test
// can check that everything the fake handed out was released.
#ifndef FAKELDAP_CONTROL_H
#define FAKELDAP_CONTROL_H

#include <stddef.h>

extern "C" {
// Forgets entries, scripted results and the call record; open connections and
// live allocation counts stay as they are.
void fake_reset(void);

// Canned directory. fake_add_entry starts a new entry (dn null: ldap_get_dn
// returns null for it); fake_add_value adds one value to the last entry's
// attribute attr (created on first use, attributes keep their order);
// fake_add_attribute_without_values adds an attribute whose ldap_get_values_len
// returns null.
void fake_add_entry(const char* dn);
void fake_add_value(const char* attr, const void* bytes, size_t length);
void fake_add_attribute_without_values(const char* attr);

// Scripted return codes. fake_push_result queues codes for the named function
// (e.g. "ldap_simple_bind_s", "ldap_search_st"; bare names in every variant):
// each call takes the next queued code; with an empty queue the function
// succeeds. A non-zero search code still stores a result message.
void fake_push_result(const char* function, int rc);
// ldap_init returns null while set.
void fake_set_init_fails(int fails);
// ldap_count_entries returns this value instead of the real count while set.
void fake_set_count_override(int enabled, int count);
// What ldap_get_errno reports: by default the code of the connection's last
// operation; while set, this value.
void fake_set_errno_override(int enabled, int value);

// Call record: one line per call, "name(arg, arg, ...)" with strings quoted and
// null shown as NULL, passwords shown as their bytes in hex; joined with '\n'.
// The text stays valid until the next control call.
const char* fake_call_log(void);
int fake_call_count(const char* function);

// Details of the last calls.
const char* fake_last_init_host(void);  // null when ldap_init got a null host
int fake_last_protocol_version(void);   // value ldap_set_option stored (-1 none)
const char* fake_last_bind_dn(void);    // null when the bind got a null DN
// Bytes of the last bind password, read through the pointer the client passed,
// at the moment of the call; -1 when the pointer was null.
int fake_last_bind_password(unsigned char* out, size_t room);
// The password pointer itself, for checks of what the client's copy held when
// it was released.
const void* fake_last_bind_password_pointer(void);
const char* fake_last_search_base(void);
const char* fake_last_search_filter(void);
int fake_last_search_scope(void);
// Attribute list of the last search joined with ',' ("NULL" for a null list).
const char* fake_last_search_attrs(void);
const void* fake_last_search_timeout(void);  // the timeval pointer passed
const char* fake_last_url(void);
const char* fake_last_dn(void);  // DN of the last add/modify/delete/modrdn
// The modification array of the last ldap_add_s / ldap_modify_s, described as one
// line per LDAPMod: "op=<mod_op> type=<mod_type> n=<values> [<len>:<hex>] ..."
// and "(empty)" for an array whose first slot is null.
const char* fake_last_mods(void);

// Allocations handed out and not yet released (messages, DNs, attribute names,
// value arrays, BER elements, URL descriptions) and connections not unbound.
int fake_live_allocations(void);
int fake_open_connections(void);
}

#ifdef __cplusplus
#include <dlfcn.h>

#include <stdexcept>
#include <string>

// clang-format off
#define FAKELDAP_CONTROLS(X)                                                               \
    X(fake_reset) X(fake_add_entry) X(fake_add_value) X(fake_add_attribute_without_values) \
    X(fake_push_result) X(fake_set_init_fails) X(fake_set_count_override)                  \
    X(fake_set_errno_override) X(fake_call_log) X(fake_call_count) X(fake_last_init_host)  \
    X(fake_last_protocol_version) X(fake_last_bind_dn) X(fake_last_bind_password)          \
    X(fake_last_bind_password_pointer) X(fake_last_search_base) X(fake_last_search_filter) \
    X(fake_last_search_scope) X(fake_last_search_attrs) X(fake_last_search_timeout)        \
    X(fake_last_url) X(fake_last_dn) X(fake_last_mods) X(fake_live_allocations)            \
    X(fake_open_connections)
// clang-format on

// Test-side access to a fake library's controls through its own dlopen handle:
// one member of the control's own name and type for each control function.
class FakeLdap {
  public:
    explicit FakeLdap(const std::string& path) {
        m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (m_handle == nullptr)
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define FAKE_BIND(name) name = reinterpret_cast<decltype(&::name)>(symbol(#name));
        FAKELDAP_CONTROLS(FAKE_BIND)
#undef FAKE_BIND
        fake_reset();
    }
    ~FakeLdap() {
        dlclose(m_handle);
    }
    FakeLdap(const FakeLdap&) = delete;
    FakeLdap& operator=(const FakeLdap&) = delete;

#define FAKE_MEMBER(name) decltype(&::name) name;
    FAKELDAP_CONTROLS(FAKE_MEMBER)
#undef FAKE_MEMBER

  private:
    void* symbol(const char* name) {
        void* p = dlsym(m_handle, name);
        if (p == nullptr)
            throw std::runtime_error(std::string("dlsym: ") + name);
        return p;
    }
    void* m_handle;
};
#endif

#endif
