// Trace capture for the tests: the trace kept in memory while a capture lives,
// and trace records compared whole (component, level and text).
#ifndef TRACECAPTURE_H
#define TRACECAPTURE_H

#include <algorithm>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "ryxtrace.h"

namespace tracetest {

// One trace record as the tests compare it: component, level and text.
struct Record {
    unsigned int component;
    unsigned int level;
    std::string text;
    bool operator==(const Record& o) const {
        return component == o.component && level == o.level && text == o.text;
    }
};

inline std::ostream& operator<<(std::ostream& os, const Record& r) {
    return os << std::hex << "{0x" << r.component << " 0x" << r.level << std::dec << " \"" << r.text
              << "\"}";
}

// Records of the plug-in's component.
inline Record entryRec(const std::string& name) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ENTRY, name};
}
inline Record exitRec(const std::string& name) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_EXIT, name};
}
inline Record errorRec(const std::string& text) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ERROR, text};
}
// Entry and exit records of an operation that calls nothing traced.
inline std::vector<Record> traced(const std::string& name) {
    return {entryRec(name), exitRec(name)};
}

// Turns the trace on for every component and level and keeps its records in
// memory while alive; restores the previous settings.
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

    // Every record so far, whatever its component.
    std::vector<Record> all() const {
        std::vector<Record> out;
        for (const RYXTraceRecord& r : m_trace->captured()) {
            out.push_back({r.component, r.level, r.text});
        }
        return out;
    }
    // Every record so far that keep(record) accepts.
    template <typename Keep>
    std::vector<Record> where(Keep keep) const {
        std::vector<Record> out, records = all();
        std::copy_if(records.begin(), records.end(), std::back_inserter(out), keep);
        return out;
    }
    // Every record of the given level so far, whatever its component.
    std::vector<Record> atLevel(unsigned int level) const {
        return where([level](const Record& r) { return r.level == level; });
    }
    // The plug-in's own records so far, without the entry's bookkeeping that
    // every stored value writes ("addAttribute", "getAttributeValue").
    std::vector<Record> plugin() const {
        return where([](const Record& r) {
            return r.component == RYX_TRACE_COMP_DIRLDAP && r.text != "addAttribute" &&
                   r.text != "getAttributeValue";
        });
    }

  private:
    RYXTrace* m_trace;
    bool m_on;
    unsigned int m_components;
    unsigned int m_levels;
};

}  // namespace tracetest

#endif
