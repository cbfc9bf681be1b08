// The process-wide trace facility of the host toolkit.
//
// Configured from the environment when the toolkit loads:
//   RYX_TRACE             "1" (or "on") turns the trace on
//   RYX_TRACE_FILE        file the records are appended to (default: standard error)
//   RYX_TRACE_COMPONENTS  component mask, decimal or 0x hex (default: all)
//   RYX_TRACE_LEVELS      level mask, decimal or 0x hex (default: all)
// A record is one line: time, thread, component, level, file:line and text.
// The on flag and the masks may be read and changed from any thread.
#ifndef RYXTRACE_H
#define RYXTRACE_H

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "ryxexport.h"

namespace ryxstrstream {
class ostrstream;
class strstream;
}  // namespace ryxstrstream

// Levels. Error messages use level 1; every traced operation writes an entry and
// an exit record.
const unsigned int RYX_TRACE_LEVEL_ERROR = 0x00000001u;
const unsigned int RYX_TRACE_LEVEL_EXIT = 0x40000000u;
const unsigned int RYX_TRACE_LEVEL_ENTRY = 0x80000000u;

// Components.
const unsigned int RYX_TRACE_COMP_LOAD = 0x00000001u;     // load-location messages
const unsigned int RYX_TRACE_COMP_DIRLDAP = 0x00000100u;  // the LDAP directory plug-in

// One record as captured in memory for tests.
struct RYXTraceRecord {
    unsigned int component;
    unsigned int level;
    std::string file;  // empty when the record has no file (exit records)
    int line;
    std::string text;
};

class RYX_EXPORT RYXTrace {
  public:
    static RYXTrace* s_defaultTracePtr;

    RYXTrace();
    ~RYXTrace();
    RYXTrace(const RYXTrace&) = delete;
    RYXTrace& operator=(const RYXTrace&) = delete;

    bool isOn() const { return m_on.load(std::memory_order_relaxed); }
    bool isEnabled(unsigned int component, unsigned int level) const {
        return isOn() && (m_componentMask.load(std::memory_order_relaxed) & component) != 0 &&
               (m_levelMask.load(std::memory_order_relaxed) & level) != 0;
    }

    // Writes one record when the trace is on and both masks allow it; returns
    // whether it wrote. file may be null (no file:line in the record).
    bool write(unsigned int component, const char* file, int line, unsigned int level,
               const char* text, size_t length);
    // The same with the text composed in a stream (the stream is frozen).
    bool write(unsigned int component, const char* file, int line, unsigned int level,
               ryxstrstream::ostrstream& stream);
    bool write(unsigned int component, const char* file, int line, unsigned int level,
               ryxstrstream::strstream& stream);

    void setOn(bool on);
    void setComponentMask(unsigned int mask);
    void setLevelMask(unsigned int mask);
    unsigned int getComponentMask() const {
        return m_componentMask.load(std::memory_order_relaxed);
    }
    unsigned int getLevelMask() const { return m_levelMask.load(std::memory_order_relaxed); }
    // Sends records to this file (appending); null sends them to standard error.
    // Returns false when the file cannot be opened (the output is then unchanged).
    bool setFile(const char* path);
    // Reads the RYX_TRACE* variables.
    void configureFromEnvironment();

    // In-memory capture for tests: while capturing, records are kept in memory
    // (and not written to the file).
    void startCapture();
    std::vector<RYXTraceRecord> stopCapture();
    std::vector<RYXTraceRecord> captured() const;

  private:
    struct Impl;
    // Each is read on its own: a record written while another thread changes the
    // configuration follows either the old or the new setting of each.
    std::atomic<bool> m_on;
    std::atomic<unsigned int> m_componentMask;
    std::atomic<unsigned int> m_levelMask;
    Impl* m_impl;
};

// Entry and exit records of one traced operation. The entry record (file, line,
// name) is written when the trace, the component and the entry level are on; the
// exit record (same name, no file) when the entry record was written and the exit
// level is on. The name is copied only when the entry record is written.
class RYX_EXPORT RYXTraceFunction {
  public:
    RYXTraceFunction(unsigned int component, const char* file, int line, const char* name)
        : m_written(false), m_component(component) {
        RYXTrace* t = RYXTrace::s_defaultTracePtr;
        if (t != nullptr && t->isEnabled(component, RYX_TRACE_LEVEL_ENTRY)) {
            enter(file, line, name);
        }
    }
    ~RYXTraceFunction() {
        if (m_written) {
            leave();
        }
    }
    RYXTraceFunction(const RYXTraceFunction&) = delete;
    RYXTraceFunction& operator=(const RYXTraceFunction&) = delete;

    // True when an entry record for this component would be written now: callers
    // compose an expensive name only then.
    static bool wouldTrace(unsigned int component) {
        RYXTrace* t = RYXTrace::s_defaultTracePtr;
        return t != nullptr && t->isEnabled(component, RYX_TRACE_LEVEL_ENTRY);
    }

  private:
    void enter(const char* file, int line, const char* name);
    void leave() noexcept;

    bool m_written;
    unsigned int m_component;
    std::string m_name;
};

#endif
