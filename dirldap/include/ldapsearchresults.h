// Result set: an owning ordered list of entries with a cursor, built from a
// client's last search or from LDIF-like text.
#ifndef LDAPSEARCHRESULTS_H
#define LDAPSEARCHRESULTS_H

#include <istream>
#include <vector>

#include "ldapentry.h"

class LDAPClient;

class LDAPSearchResults {
  public:
    explicit LDAPSearchResults(LDAPClient& client);
    explicit LDAPSearchResults(std::istream& is);
    ~LDAPSearchResults();
    LDAPSearchResults(const LDAPSearchResults&) = delete;
    LDAPSearchResults& operator=(const LDAPSearchResults&) = delete;

    LDAPEntry* next();
    void reset();
    void erase();
    size_t size() const { return m_entries->size(); }

  private:
    std::vector<LDAPEntry*>* m_entries;
    LDAPEntry** m_cursor;
};

#endif
