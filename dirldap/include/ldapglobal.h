// Load-time registration of the plug-in's entry function.
#ifndef LDAPGLOBAL_H
#define LDAPGLOBAL_H

class LDAPGlobal {
  public:
    LDAPGlobal();
    ~LDAPGlobal();
    LDAPGlobal(const LDAPGlobal&) = delete;
    LDAPGlobal& operator=(const LDAPGlobal&) = delete;
};

extern "C" {
// Canonical path of this library's file (malloc'd, release with free), or null.
__attribute__((visibility("default"))) char* ryxdrld_loaded_from(void);
__attribute__((visibility("default"))) extern const char ryxdrld_Copyright[];
__attribute__((visibility("default"))) extern const char ryxdrld_SCCSInfo[];
}

#endif
