// One directory entry: a multimap from attribute name to value buffer whose
// names compare without regard to case.
#ifndef LDAPENTRY_H
#define LDAPENTRY_H

#include <strings.h>

#include <cstddef>
#include <map>

#include "ryxbuffer.h"

// strcasecmp order; transparent so that lookups take const char*.
struct LDAPNameLess {
    typedef void is_transparent;
    bool operator()(const char* a, const char* b) const { return strcasecmp(a, b) < 0; }
};

// True when count is 0 or negative, or every one of the first count bytes passes isprint.
bool isPrintable(const unsigned char* bytes, int count);

// A text value is stored with its terminating NUL (length = text length + 1), a
// binary value with exactly its bytes. The entry owns every name copy and buffer.
class LDAPEntry {
  public:
    typedef std::multimap<char*, RYXBuffer*, LDAPNameLess> AttributeMap;
    typedef AttributeMap::iterator iterator;
    typedef AttributeMap::const_iterator const_iterator;

    LDAPEntry();
    ~LDAPEntry();
    LDAPEntry(const LDAPEntry&) = delete;
    LDAPEntry& operator=(const LDAPEntry&) = delete;

    void addAttribute(const char* name, const char* value, unsigned int length);
    bool removeAttribute(const char* name, const char* value);
    const unsigned char* getAttributeValue(const char* name);

    // Direct access to the multimap.
    size_t size() const { return m_attributes.size(); }
    size_t count(const char* name) const { return m_attributes.count(name); }
    iterator find(const char* name) { return m_attributes.find(name); }
    const_iterator find(const char* name) const { return m_attributes.find(name); }
    iterator begin() { return m_attributes.begin(); }
    iterator end() { return m_attributes.end(); }
    const_iterator begin() const { return m_attributes.begin(); }
    const_iterator end() const { return m_attributes.end(); }

    // Releases every name copy and buffer and empties the entry.
    void clear();

  private:
    AttributeMap m_attributes;
};

#endif
