// Helpers of the client's unit tests: whole trace records, trace capture, and
// exception checks.
#ifndef CLIENTTESTUTIL_H
#define CLIENTTESTUTIL_H

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "ryxexception.h"
#include "ryxtrace.h"

namespace clienttest {

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
    const char* kind = r.level == RYX_TRACE_LEVEL_ENTRY   ? "entry"
                       : r.level == RYX_TRACE_LEVEL_EXIT  ? "exit"
                       : r.level == RYX_TRACE_LEVEL_ERROR ? "error"
                                                          : "level?";
    return os << "{0x" << std::hex << r.component << std::dec << " " << kind << " \"" << r.text
              << "\"}";
}

inline Record entryRec(const std::string& name) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ENTRY, name};
}
inline Record exitRec(const std::string& name) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_EXIT, name};
}
inline Record errorRec(const std::string& text) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ERROR, text};
}

// Turns the whole trace on and keeps its records in memory while alive.
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
    std::vector<Record> records() const {
        std::vector<Record> out;
        for (const RYXTraceRecord& r : m_trace->captured())
            out.push_back({r.component, r.level, r.text});
        return out;
    }
    // Only the error records.
    std::vector<Record> errors() const {
        std::vector<Record> out;
        for (const Record& r : records())
            if (r.level == RYX_TRACE_LEVEL_ERROR)
                out.push_back(r);
        return out;
    }

  private:
    RYXTrace* m_trace;
    bool m_on;
    unsigned int m_components;
    unsigned int m_levels;
};

// Runs f, which must throw RYXDIRException with this code and message.
inline void expectDirException(const std::function<void()>& f, int code,
                               const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception, expected " << code << " \"" << message << "\"";
    } catch (const RYXDIRException& e) {
        EXPECT_EQ(code, e.getError());
        EXPECT_EQ(message, std::string(e.getMessage().c_str()));
    }
}

}  // namespace clienttest

#endif
