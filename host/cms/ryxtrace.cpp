#include "ryxtrace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "ryxstrstream.h"
#include "ryxsys.h"

struct RYXTrace::Impl {
    std::mutex mutex;
    FILE* file = nullptr;  // null: standard error
    bool capturing = false;
    std::vector<RYXTraceRecord> records;
};

namespace {
RYXTrace g_trace;

unsigned int parseMask(const char* text, unsigned int fallback) {
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 0);
    return (end != nullptr && *end == '\0') ? static_cast<unsigned int>(value) : fallback;
}
}  // namespace

RYXTrace* RYXTrace::s_defaultTracePtr = &g_trace;

RYXTrace::RYXTrace() : m_on(false), m_componentMask(~0u), m_levelMask(~0u), m_impl(new Impl) {
    configureFromEnvironment();
}

RYXTrace::~RYXTrace() {
    if (s_defaultTracePtr == this) {
        s_defaultTracePtr = nullptr;
    }
    if (m_impl->file != nullptr) {
        fclose(m_impl->file);
    }
    delete m_impl;
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     const char* text, size_t length) {
    if (!isEnabled(component, level)) {
        return false;
    }
    std::string body = text == nullptr ? std::string() : std::string(text, length);
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->capturing) {
        m_impl->records.push_back(
            RYXTraceRecord{component, level, file == nullptr ? "" : file, line, body});
        return true;
    }
    char stamp[40];
    ryxsys_timestamp(stamp, sizeof stamp);
    FILE* out = m_impl->file != nullptr ? m_impl->file : stderr;
    if (file != nullptr) {
        fprintf(out, "%s [%ld] %08x %08x %s:%d %s\n", stamp, ryxsys_thread_id(), component, level,
                file, line, body.c_str());
    } else {
        fprintf(out, "%s [%ld] %08x %08x %s\n", stamp, ryxsys_thread_id(), component, level,
                body.c_str());
    }
    fflush(out);
    return true;
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     ryxstrstream::ostrstream& stream) {
    if (!isEnabled(component, level)) {
        return false;
    }
    size_t n = stream.pcount();
    return write(component, file, line, level, stream.str(), n);
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     ryxstrstream::strstream& stream) {
    if (!isEnabled(component, level)) {
        return false;
    }
    size_t n = stream.pcount();
    return write(component, file, line, level, stream.str(), n);
}

void RYXTrace::setOn(bool on) {
    m_on = on;
}
void RYXTrace::setComponentMask(unsigned int mask) {
    m_componentMask = mask;
}
void RYXTrace::setLevelMask(unsigned int mask) {
    m_levelMask = mask;
}

bool RYXTrace::setFile(const char* path) {
    FILE* f = nullptr;
    if (path != nullptr) {
        f = fopen(path, "a");
        if (f == nullptr) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->file != nullptr) {
        fclose(m_impl->file);
    }
    m_impl->file = f;
    return true;
}

void RYXTrace::configureFromEnvironment() {
    const char* on = ryxsys_getenv("RYX_TRACE");
    m_on = on != nullptr && (strcmp(on, "1") == 0 || strcmp(on, "on") == 0);
    m_componentMask = parseMask(ryxsys_getenv("RYX_TRACE_COMPONENTS"), ~0u);
    m_levelMask = parseMask(ryxsys_getenv("RYX_TRACE_LEVELS"), ~0u);
    const char* path = ryxsys_getenv("RYX_TRACE_FILE");
    if (path != nullptr && *path != '\0') {
        setFile(path);
    }
}

void RYXTrace::startCapture() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->records.clear();
    m_impl->capturing = true;
}

std::vector<RYXTraceRecord> RYXTrace::stopCapture() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->capturing = false;
    std::vector<RYXTraceRecord> out;
    out.swap(m_impl->records);
    return out;
}

std::vector<RYXTraceRecord> RYXTrace::captured() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->records;
}

void RYXTraceFunction::enter(const char* file, int line, const char* name) {
    m_name = name == nullptr ? "" : name;
    m_written = RYXTrace::s_defaultTracePtr->write(m_component, file, line, RYX_TRACE_LEVEL_ENTRY,
                                                   m_name.data(), m_name.size());
}

void RYXTraceFunction::leave() noexcept {
    try {
        RYXTrace* t = RYXTrace::s_defaultTracePtr;
        if (t != nullptr) {
            t->write(m_component, nullptr, 0, RYX_TRACE_LEVEL_EXIT, m_name.data(), m_name.size());
        }
    } catch (...) {
        // An exit record that cannot be written is dropped.
    }
}
