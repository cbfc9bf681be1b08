// Controls of the fake LDAP C API library (its 25 API functions bare, or ryx_
// prefixed), reached through a dlopen of the path the client loads. Searches
// return every canned entry unfiltered; handed-out copies are counted until freed.
#ifndef FAKELDAP_CONTROL_H
#define FAKELDAP_CONTROL_H

#include <stddef.h>

extern "C" {
// Forgets entries, scripted results and calls; open connections and live
// allocations stay counted.
void fake_reset(void);

// Canned entries: fake_add_entry starts one (a null dn: ldap_get_dn gives null),
// the others add to its attribute attr (created on first use, in order), one
// whose ldap_get_values_len gives null.
void fake_add_entry(const char* dn);
void fake_add_value(const char* attr, const void* bytes, size_t length);
void fake_add_attribute_without_values(const char* attr);

// Scripted results: each call of the named function (bare name in every
// variant) takes the next queued code, 0 when none is left; a failed search
// still stores a message, ldap_init fails on any other. ldap_count_entries
// returns count, ldap_get_errno value (else the connection's last code) while set.
void fake_push_result(const char* function, int rc);
void fake_set_count_override(int enabled, int count);
void fake_set_errno_override(int enabled, int value);

// How many calls begin with prefix ("" counts them all): each is recorded by
// its name, ldap_ber_free as "ldap_ber_free(<freebuf>)".
int fake_call_count(const char* prefix);

// Arguments of the last calls: texts null when the call got null.
const char* fake_last_init_host(void);
int fake_last_protocol_version(void);  // -1 when none was set
const char* fake_last_bind_dn(void);
const void* fake_last_bind_password_pointer(void);  // the password the bind got
const char* fake_last_search_base(void);
const char* fake_last_search_filter(void);
int fake_last_search_scope(void);
const char* fake_last_search_attrs(void);  // joined with ',', "NULL" for none
const void* fake_last_search_timeout(void);
const char* fake_last_url(void);
const char* fake_last_dn(void);  // of the last add, modify, delete or rename
// The last add's or modify's array, one line per LDAPMod:
// "op=<mod_op> type=<mod_type> n=<values> [<len>:<hex>] ...", or "(empty)".
const char* fake_last_mods(void);

// What was handed out and not yet released; connections not unbound.
int fake_live_allocations(void);
int fake_open_connections(void);
}

#ifdef __cplusplus
#include <dlfcn.h>

#include <stdexcept>
#include <string>

// clang-format off
#define FAKELDAP_CONTROLS(X) \
    X(fake_reset) X(fake_add_entry) X(fake_add_value)                                  \
    X(fake_add_attribute_without_values) X(fake_push_result)                           \
    X(fake_set_count_override) X(fake_set_errno_override) X(fake_call_count)           \
    X(fake_last_init_host) X(fake_last_protocol_version) X(fake_last_bind_dn)          \
    X(fake_last_bind_password_pointer) X(fake_last_search_base)                        \
    X(fake_last_search_filter) X(fake_last_search_scope) X(fake_last_search_attrs)     \
    X(fake_last_search_timeout) X(fake_last_url) X(fake_last_dn) X(fake_last_mods)     \
    X(fake_live_allocations) X(fake_open_connections)
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
