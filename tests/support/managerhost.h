// Helpers of the directory manager's end-to-end tests: the plug-in loaded the
// way the toolkit loads it (library manager, registered entry function), the
// connection information, container contents as DER, whole trace records and
// exception checks.
#ifndef MANAGERHOST_H
#define MANAGERHOST_H

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "ryxasn.h"
#include "ryxdir.h"
#include "ryxexception.h"
#include "ryxlibrary.h"
#include "ryxstring.h"
#include "ryxtrace.h"
#include "ryxutility.h"
#include "testpki.h"

namespace managerhost {

using testpki::Bytes;

const char* const kPluginName = "ryx8drld";

// Keeps the plug-in loaded while it is alive: loading runs its registration.
class Plugin {
  public:
    Plugin() : m_handle(RYXLibraryManager::loadPlugin(RYXString(kPluginName))) {}
    ~Plugin() { RYXLibraryManager::unloadPlugin(m_handle); }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

  private:
    void* m_handle;
};

// Connection information as the toolkit fills it in.
struct Connection {
    std::string host = "127.0.0.1";
    int port = 389;
    std::string userDN;
    std::string password;
    int version = 1;  // LDAP version 3
    int errorMode = 0;
    std::string driverPath;

    RYXDIRConnectInfo::LDAP info() const {
        RYXBuffer secret(static_cast<unsigned int>(password.size()),
                         reinterpret_cast<const unsigned char*>(password.data()));
        return RYXDIRConnectInfo::LDAP(host.c_str(), port, userDN.c_str(), secret, version,
                                       errorMode, driverPath.c_str(), nullptr);
    }
};

// A manager from the entry function registered under the plug-in's name; the
// plug-in must be loaded.
inline std::unique_ptr<RYXDIRManager> makeManager(const Connection& c) {
    RYXDIRConnectInfo::LDAP info = c.info();
    return std::unique_ptr<RYXDIRManager>(static_cast<RYXDIRManager*>(
        RYXLibraryManager::callLibEntry(RYXString(kPluginName), &info)));
}

inline Bytes derOf(const RYXASNObject* object) {
    RYXBuffer der = object->getDEREncoding();
    return Bytes(der.getValue(), der.getValue() + der.getLength());
}

// The DER of every object of a container, in container order.
inline std::vector<Bytes> contents(const RYXASNObjectContainer* c) {
    std::vector<Bytes> out;
    for (size_t i = 0; c != nullptr && i < c->size(); ++i) {
        out.push_back(derOf(c->at(i)));
    }
    return out;
}

inline std::string bytes(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

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
    return os << "{0x" << std::hex << r.component << " 0x" << r.level << std::dec << " \"" << r.text
              << "\"}";
}

// An error-level message of the plug-in's component.
inline Record message(const std::string& text) {
    return {RYX_TRACE_COMP_DIRLDAP, RYX_TRACE_LEVEL_ERROR, text};
}

// The record of one value's hex dump: the heading, a line break and the host's
// dump of at most the first 256 bytes.
inline Record dump(const std::string& heading, const std::string& value) {
    const size_t n = value.size() < 256 ? value.size() : 256;
    std::ostringstream os;
    os << heading << '\n';
    RYXUtility::hexdump(os, "HEX",
                        RYXBuffer(static_cast<unsigned int>(n),
                                  reinterpret_cast<const unsigned char*>(value.data())));
    return message(os.str());
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

    // Every record of the given level (of any component) so far.
    std::vector<Record> atLevel(unsigned int level) const {
        std::vector<Record> out;
        for (const RYXTraceRecord& r : m_trace->captured()) {
            if (r.level == level) {
                out.push_back({r.component, r.level, r.text});
            }
        }
        return out;
    }
    // Error-level records of the plug-in's component whose text does not begin
    // with prefix (leaves out the value dumps when given their heading).
    std::vector<Record> messagesWithout(const std::string& prefix) const {
        std::vector<Record> out;
        for (const Record& r : atLevel(RYX_TRACE_LEVEL_ERROR)) {
            if (r.component == RYX_TRACE_COMP_DIRLDAP &&
                r.text.compare(0, prefix.size(), prefix) != 0) {
                out.push_back(r);
            }
        }
        return out;
    }
    // Entry records with exactly this name.
    size_t entries(const std::string& name) const {
        size_t n = 0;
        for (const Record& r : atLevel(RYX_TRACE_LEVEL_ENTRY)) {
            n += r.text == name ? 1 : 0;
        }
        return n;
    }

  private:
    RYXTrace* m_trace;
    bool m_on;
    unsigned int m_components;
    unsigned int m_levels;
};

// Runs f, which must throw an exception of type E with this code (and, when
// given, exactly this message).
template <typename E>
void expectThrows(const std::function<void()>& f, int code, const char* text = nullptr) {
    try {
        f();
        ADD_FAILURE() << "no exception; expected " << code;
    } catch (const E& e) {
        EXPECT_EQ(code, e.getError());
        if (text != nullptr) {
            EXPECT_EQ(std::string(text),
                      std::string(e.getMessage().c_str(), e.getMessage().length()));
        }
    } catch (const std::exception& e) {
        ADD_FAILURE() << "other exception: " << e.what();
    }
}

}  // namespace managerhost

#endif
