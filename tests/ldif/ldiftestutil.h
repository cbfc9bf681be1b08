// Helpers shared by the result-set tests: an entry as a list of (name, stored
// bytes) pairs, and trace capture of the result set's own records.
#ifndef LDIFTESTUTIL_H
#define LDIFTESTUTIL_H

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ldapentry.h"
#include "ryxtrace.h"
#include "tracecapture.h"

// Pairs in multimap order; each value holds every stored byte (a text value
// therefore ends with its NUL).
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

// The whole trace captured while alive, seen as the result set's own calls.
class TraceCapture : public tracetest::TraceCapture {
  public:
    // "> name" for entry records and "< name" for exit records of the
    // plug-in's component, leaving out the names given.
    std::vector<std::string> names(const std::set<std::string>& without = {
                                       "addAttribute", "getAttributeValue", "errorMessage"}) const {
        std::vector<std::string> out;
        for (const tracetest::Record& r : all()) {
            if (r.component != RYX_TRACE_COMP_DIRLDAP || without.count(r.text) != 0) {
                continue;
            }
            if (r.level == RYX_TRACE_LEVEL_ENTRY) {
                out.push_back("> " + r.text);
            } else if (r.level == RYX_TRACE_LEVEL_EXIT) {
                out.push_back("< " + r.text);
            }
        }
        return out;
    }
};

#endif
