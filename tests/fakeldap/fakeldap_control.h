// Controls of the fake LDAP C API library (its 25 API functions bare, or ryx_
// prefixed), reached through a dlopen of the path the client loads. Searches
// return every canned entry unfiltered; handed-out copies are counted until freed.
#ifndef FAKELDAP_CONTROL_H
#define FAKELDAP_CONTROL_H

#include <stddef.h>

// The controls, as X(type, name, parameters).
// fake_reset forgets entries, scripted results and calls; open connections and
// live allocations stay counted.
// Canned entries: fake_add_entry starts one (a null dn: ldap_get_dn gives null),
// the others add to its attribute attr (created on first use, in order), one
// whose ldap_get_values_len gives null.
// Scripted results: each call of the named function (bare name in every
// variant) takes the next queued code, 0 when none is left; a failed search
// still stores a message, ldap_init fails on any other. ldap_count_entries
// returns count, ldap_get_errno value (else the connection's last code) while set.
// fake_call_count: how many calls begin with prefix ("" counts them all); each
// is recorded by its name, ldap_ber_free as "ldap_ber_free(<freebuf>)".
// fake_last_*: arguments of the last calls, texts null when the call got null;
// the version -1 when none was set, the password pointer the bind got, the
// attributes joined with ',' ("NULL" for none), the DN of the last add, modify,
// delete or rename, and the last add's or modify's array, one line per LDAPMod:
// "op=<mod_op> type=<mod_type> n=<values> [<len>:<hex>] ...", or "(empty)".
// Last, what was handed out and not yet released; connections not unbound.
// clang-format off
#define FAKELDAP_CONTROLS(X)                                                   \
    X(void, fake_reset, (void))                                                \
    X(void, fake_add_entry, (const char* dn))                                  \
    X(void, fake_add_value, (const char* attr, const void* bytes, size_t length)) \
    X(void, fake_add_attribute_without_values, (const char* attr))             \
    X(void, fake_push_result, (const char* function, int rc))                  \
    X(void, fake_set_count_override, (int enabled, int count))                 \
    X(void, fake_set_errno_override, (int enabled, int value))                 \
    X(int, fake_call_count, (const char* prefix))                              \
    X(const char*, fake_last_init_host, (void))                                \
    X(int, fake_last_protocol_version, (void))                                 \
    X(const char*, fake_last_bind_dn, (void))                                  \
    X(const void*, fake_last_bind_password_pointer, (void))                    \
    X(const char*, fake_last_search_base, (void))                              \
    X(const char*, fake_last_search_filter, (void))                            \
    X(int, fake_last_search_scope, (void))                                     \
    X(const char*, fake_last_search_attrs, (void))                             \
    X(const void*, fake_last_search_timeout, (void))                           \
    X(const char*, fake_last_url, (void))                                      \
    X(const char*, fake_last_dn, (void))                                       \
    X(const char*, fake_last_mods, (void))                                     \
    X(int, fake_live_allocations, (void))                                      \
    X(int, fake_open_connections, (void))
// clang-format on

#define FAKE_DECLARE(type, name, parameters) type name parameters;
extern "C" {
FAKELDAP_CONTROLS(FAKE_DECLARE)
}
#undef FAKE_DECLARE

#ifdef __cplusplus
#include <dlfcn.h>

#include <memory>
#include <stdexcept>
#include <string>

// Test-side access to a fake library's controls through its own dlopen handle:
// one member of the control's own name and type for each control function.
class FakeLdap {
  public:
    explicit FakeLdap(const std::string& path)
        : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL), dlclose) {
        if (m_handle == nullptr)
            throw std::runtime_error(std::string("dlopen: ") + dlerror());
#define FAKE_BIND(type, name, parameters) name = reinterpret_cast<decltype(&::name)>(symbol(#name));
        FAKELDAP_CONTROLS(FAKE_BIND)
#undef FAKE_BIND
        fake_reset();
    }

#define FAKE_MEMBER(type, name, parameters) decltype(&::name) name;
    FAKELDAP_CONTROLS(FAKE_MEMBER)
#undef FAKE_MEMBER

  private:
    void* symbol(const char* name) {
        void* p = dlsym(m_handle.get(), name);
        if (p == nullptr)
            throw std::runtime_error(std::string("dlsym: ") + name);
        return p;
    }
    std::unique_ptr<void, int (*)(void*)> m_handle;
};
#endif

#endif
