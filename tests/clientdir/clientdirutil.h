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

#include "ldapentry.h"
#include "ryxexception.h"
#include "ryxtrace.h"

namespace clientdir {

// OpenLDAP's own client library, loaded by path: it lacks ldap_url_search_st,
// ldap_get_errno and ldap_ber_free.
const char* const kLibldapPath = "/usr/lib/x86_64-linux-gnu/libldap-2.5.so.0";

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

// One trace record reduced to what the tests compare: component, level, text.
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
// Entry and exit records of an operation that calls nothing traced.
inline std::vector<Record> traced(const std::string& name) {
    return {entryRec(name), exitRec(name)};
}

// Turns the whole trace on and captures it in memory while alive; restores the
// previous settings afterwards.
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

    // The plug-in's records so far, leaving out the entry's own bookkeeping.
    std::vector<Record> records() const {
        std::vector<Record> out;
        for (const RYXTraceRecord& r : m_trace->captured()) {
            if (r.component != RYX_TRACE_COMP_DIRLDAP || r.text == "addAttribute" ||
                r.text == "getAttributeValue")
                continue;
            out.push_back({r.component, r.level, r.text});
        }
        return out;
    }
    // Every captured record's text, of any component.
    std::vector<std::string> allTexts() const {
        std::vector<std::string> out;
        for (const RYXTraceRecord& r : m_trace->captured())
            out.push_back(r.text);
        return out;
    }

  private:
    RYXTrace* m_trace;
    bool m_on;
    unsigned int m_components;
    unsigned int m_levels;
};

// Runs f, which must throw an exception of type E; checks its code and message.
template <typename E>
void expectThrows(const std::function<void()>& f, int code, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no exception; expected " << code << " \"" << message << "\"";
    } catch (const E& e) {
        EXPECT_EQ(code, e.getError());
        EXPECT_EQ(message, std::string(e.getMessage().c_str(), e.getMessage().length()));
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
    }
}

}  // namespace clientdir

#endif
