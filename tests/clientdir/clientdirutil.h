// Helpers of the client's directory tests: entries as (name, stored bytes)
// pairs, whole trace records of the plug-in's component, and exception checks.
#ifndef CLIENTDIRUTIL_H
#define CLIENTDIRUTIL_H

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "expectthrows.h"
#include "ldapentry.h"
#include "ryxexception.h"
#include "ryxtrace.h"
#include "tracecapture.h"

namespace clientdir {

// OpenLDAP's own client library, loaded by path: it lacks ldap_url_search_st,
// ldap_get_errno and ldap_ber_free.
const char* const kLibldapPath = RYX_LIBLDAP_PATH;

// A text value as the entry stores it: the text and its NUL.
inline std::string text(const std::string& s) {
    return s + std::string(1, '\0');
}

inline std::string bytes(const std::vector<unsigned char>& b) {
    return std::string(b.begin(), b.end());
}

// Pairs in multimap order; each value holds every stored byte.
typedef std::vector<std::pair<std::string, std::string>> Pairs;

inline Pairs pairsOf(const LDAPEntry& entry) {
    Pairs pairs;
    for (LDAPEntry::const_iterator it = entry.begin(); it != entry.end(); ++it) {
        const RYXBuffer* value = it->second;
        pairs.emplace_back(it->first, std::string(reinterpret_cast<const char*>(value->getValue()),
                                                  value->getLength()));
    }
    return pairs;
}

using tracetest::entryRec;
using tracetest::errorRec;
using tracetest::exitRec;
using tracetest::Record;
using tracetest::traced;

// The whole trace captured while alive, seen as the plug-in's own records.
class TraceCapture : public tracetest::TraceCapture {
  public:
    // The plug-in's records so far, leaving out the entry's own bookkeeping.
    std::vector<Record> records() const {
        std::vector<Record> out;
        for (const Record& r : all()) {
            if (r.component != RYX_TRACE_COMP_DIRLDAP || r.text == "addAttribute" ||
                r.text == "getAttributeValue")
                continue;
            out.push_back(r);
        }
        return out;
    }
    // Every captured record's text, of any component.
    std::vector<std::string> allTexts() const {
        std::vector<std::string> out;
        for (const Record& r : all())
            out.push_back(r.text);
        return out;
    }
};

using tracetest::throwsError;

}  // namespace clientdir

#endif
