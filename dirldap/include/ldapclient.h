// The plug-in's LDAP client: an LDAP C API library loaded at run time, reached
// only through a per-client table of function pointers, and at most one open
// connection.
#ifndef LDAPCLIENT_H
#define LDAPCLIENT_H

#include <ldap.h>

#include <iosfwd>

#include "ldapentry.h"
#include "ryxbuffer.h"
#include "ryxdir.h"
#include "ryxstring.h"

extern "C" {
typedef LDAP* (*ldap_init_fn)(const char* host, int port);
typedef int (*ldap_msgfree_fn)(LDAPMessage* msg);
typedef char* (*ldap_err2string_fn)(int rc);
typedef int (*ldap_set_option_fn)(LDAP* ld, int option, const void* value);
typedef int (*ldap_simple_bind_s_fn)(LDAP* ld, const char* dn, const char* password);
typedef int (*ldap_unbind_fn)(LDAP* ld);
typedef int (*ldap_search_st_fn)(LDAP* ld, const char* base, int scope, const char* filter,
                                 char** attrs, int attrsonly, struct timeval* timeout,
                                 LDAPMessage** result);
typedef int (*ldap_url_search_st_fn)(LDAP* ld, const char* url, int attrsonly,
                                     struct timeval* timeout, LDAPMessage** result);
typedef int (*ldap_url_parse_fn)(const char* url, LDAPURLDesc** desc);
typedef void (*ldap_free_urldesc_fn)(LDAPURLDesc* desc);
typedef int (*ldap_count_entries_fn)(LDAP* ld, LDAPMessage* result);
typedef int (*ldap_add_s_fn)(LDAP* ld, const char* dn, LDAPMod** mods);
typedef int (*ldap_delete_s_fn)(LDAP* ld, const char* dn);
typedef int (*ldap_modify_s_fn)(LDAP* ld, const char* dn, LDAPMod** mods);
typedef int (*ldap_modrdn_s_fn)(LDAP* ld, const char* dn, const char* newrdn, int deleteoldrdn);
typedef LDAPMessage* (*ldap_first_entry_fn)(LDAP* ld, LDAPMessage* result);
typedef LDAPMessage* (*ldap_next_entry_fn)(LDAP* ld, LDAPMessage* entry);
typedef char* (*ldap_get_dn_fn)(LDAP* ld, LDAPMessage* entry);
typedef void (*ldap_memfree_fn)(void* p);
typedef char* (*ldap_first_attribute_fn)(LDAP* ld, LDAPMessage* entry, BerElement** ber);
typedef char* (*ldap_next_attribute_fn)(LDAP* ld, LDAPMessage* entry, BerElement* ber);
typedef struct berval** (*ldap_get_values_len_fn)(LDAP* ld, LDAPMessage* entry, const char* attr);
typedef void (*ldap_value_free_len_fn)(struct berval** values);
typedef int (*ldap_get_errno_fn)(LDAP* ld);
typedef void (*ldap_ber_free_fn)(BerElement* ber);
}

// The array of modifications handed to ldap_add_s and ldap_modify_s, built from
// an entry. Points into the entry's names and values, which must outlive it.
class LdapModArray {
  public:
    LdapModArray(LDAPEntry* entry, int operation);
    ~LdapModArray();
    LdapModArray(const LdapModArray&) = delete;
    LdapModArray& operator=(const LdapModArray&) = delete;

    LDAPMod** get() const { return m_mods; }

  private:
    void fillMods(LDAPEntry* entry, int operation);

    LDAPMod** m_mods;
};

// Writes one modification: operation, attribute and each value with its length.
std::ostream& operator<<(std::ostream& os, const LDAPMod& mod);

class LDAPClient {
  public:
    LDAPClient(const RYXConstString& host, const RYXConstString& driverPath,
               LDAPInitAgent* initAgent, int port, int version);
    ~LDAPClient();
    LDAPClient(const LDAPClient&) = delete;
    LDAPClient& operator=(const LDAPClient&) = delete;

    // Connection.
    int login(const char* userDN, const char* password);
    int login(const RYXConstString& userDN, const RYXASNCBuffer& password);
    int login(const RYXConstString& host, int port, const RYXConstString& userDN,
              const RYXASNCBuffer& password);
    bool init_client();
    int logout(bool unbind);
    const char* errorMessage(int rc);

    // Searches.
    int search(const char* base, int scope, const char* filter, char** attrs, int attrsonly);
    int searchByURI(const RYXString& uri, int attrsonly);
    RYXString convertDCtoHost(const RYXString& uri);

    // Entry modification.
    bool addEntry(LDAPEntry* entry, const char* dn);
    bool modifyEntry(LDAPEntry* entry, const char* dn);
    bool deleteEntry(const char* dn);
    bool modifyRDN(const char* dn, const char* newRDN, int deleteoldrdn);

    // Wrappers over the function table for the result walk and error handling.
    int countEntries();
    LDAPMessage* firstEntry();
    LDAPMessage* nextEntry();
    char* getDN();
    void memFree(void* p);
    char* firstAttribute(BerElement** ber);
    char* nextAttribute(BerElement* ber);
    struct berval** getValuesLen(const char* attr);
    void valueFreeLen(struct berval** values);
    int getErrno();
    void berFree(BerElement* ber);

    LDAP* m_ld;
    LDAPMessage* m_result;
    LDAPMessage* m_entry;
    int m_lastError;
    RYXConstString m_host;
    int m_port;
    int m_version;
    void* m_libHandle;
    LDAPInitAgent* m_initAgent;

    // Function table, in binding order (ldap_ber_free is looked up before
    // ldap_get_errno).
    ldap_init_fn m_ldap_init;
    ldap_msgfree_fn m_ldap_msgfree;
    ldap_err2string_fn m_ldap_err2string;
    ldap_set_option_fn m_ldap_set_option;
    ldap_simple_bind_s_fn m_ldap_simple_bind_s;
    ldap_unbind_fn m_ldap_unbind;
    ldap_search_st_fn m_ldap_search_st;
    ldap_url_search_st_fn m_ldap_url_search_st;
    ldap_url_parse_fn m_ldap_url_parse;
    ldap_free_urldesc_fn m_ldap_free_urldesc;
    ldap_count_entries_fn m_ldap_count_entries;
    ldap_add_s_fn m_ldap_add_s;
    ldap_delete_s_fn m_ldap_delete_s;
    ldap_modify_s_fn m_ldap_modify_s;
    ldap_modrdn_s_fn m_ldap_modrdn_s;
    ldap_first_entry_fn m_ldap_first_entry;
    ldap_next_entry_fn m_ldap_next_entry;
    ldap_get_dn_fn m_ldap_get_dn;
    ldap_memfree_fn m_ldap_memfree;
    ldap_first_attribute_fn m_ldap_first_attribute;
    ldap_next_attribute_fn m_ldap_next_attribute;
    ldap_get_values_len_fn m_ldap_get_values_len;
    ldap_value_free_len_fn m_ldap_value_free_len;
    ldap_get_errno_fn m_ldap_get_errno;
    ldap_ber_free_fn m_ldap_ber_free;

    bool m_useDriverPath;

  private:
    void connectDynamic(const RYXConstString& driverPath);
};

#endif
