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

// Turns the trace on for the plug-in's component and captures its records
// while alive; restores the previous settings afterwards.
class TraceCapture {
  public:
    TraceCapture()
        : m_trace(RYXTrace::s_defaultTracePtr),
          m_on(m_trace->isOn()),
          m_components(m_trace->getComponentMask()),
          m_levels(m_trace->getLevelMask()) {
        m_trace->setOn(true);
        m_trace->setComponentMask(0xFFFFFFFFu);
        m_trace->setLevelMask(0xFFFFFFFFu);
        m_trace->startCapture();
    }
    ~TraceCapture() {
        m_trace->stopCapture();
        m_trace->setOn(m_on);
        m_trace->setComponentMask(m_components);
        m_trace->setLevelMask(m_levels);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // "> name" for entry records and "< name" for exit records of the
    // plug-in's component, leaving out the names given.
    std::vector<std::string> names(const std::set<std::string>& without = {
                                       "addAttribute", "getAttributeValue", "errorMessage"}) const {
        std::vector<std::string> out;
        for (const RYXTraceRecord& r : m_trace->captured()) {
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

    // Every record of the plug-in's component.
    std::vector<RYXTraceRecord> records() const { return m_trace->captured(); }

  private:
    RYXTrace* m_trace;
    bool m_on;
    unsigned int m_components;
    unsigned int m_levels;
};

#endif
