// The process-wide trace facility.
#include "ryxtrace.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "ryxstrstream.h"
#include "ryxsys.h"
#include "ryxuniqueptr.h"

struct RYXTrace::Impl {
    std::mutex mutex;
    ryx::UniquePtr<FILE> file;  // null means standard error
    bool capturing = false;
    std::vector<RYXTraceRecord> records;

    FILE* out() const { return file ? file.get() : stderr; }
};

namespace {

// Parses a mask: decimal, or hex after 0x / 0X. False when the text is not a number.
bool parseMask(const char* text, unsigned int& mask) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        if (*text == '\0') {
            return false;
        }
    }
    if (*text == '-' || *text == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long value = strtoul(text, &end, base);
    if (errno != 0 || end == text || *end != '\0' || value > 0xffffffffUL) {
        return false;
    }
    mask = static_cast<unsigned int>(value);
    return true;
}

// The default trace lives for the whole process: it is never destroyed, so that
// code running in other libraries' static destructors can still trace.
RYXTrace* makeDefaultTrace() {
    RYXTrace* trace = new RYXTrace();
    trace->configureFromEnvironment();
    return trace;
}

}  // namespace

RYXTrace* RYXTrace::s_defaultTracePtr = makeDefaultTrace();

RYXTrace::RYXTrace()
    : m_on(false), m_componentMask(0xffffffffu), m_levelMask(0xffffffffu), m_impl(new Impl) {}

RYXTrace::~RYXTrace() {
    delete m_impl;
    if (s_defaultTracePtr == this) {
        s_defaultTracePtr = nullptr;
    }
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     const char* text, size_t length) {
    if (!isEnabled(component, level)) {
        return false;
    }
    if (text == nullptr) {
        text = "";
        length = 0;
    }
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->capturing) {
        RYXTraceRecord record;
        record.component = component;
        record.level = level;
        record.file = file != nullptr ? file : "";
        record.line = file != nullptr ? line : 0;
        record.text.assign(text, length);
        m_impl->records.push_back(std::move(record));
        return true;
    }
    char stamp[40];
    ryx_sys_timestamp(stamp, sizeof stamp);
    FILE* out = m_impl->out();
    if (file != nullptr) {
        fprintf(out, "%s %lu %08x %08x %s:%d ", stamp, ryx_sys_thread_id(), component, level, file,
                line);
    } else {
        fprintf(out, "%s %lu %08x %08x ", stamp, ryx_sys_thread_id(), component, level);
    }
    if (length > 0) {
        fwrite(text, 1, length, out);
    }
    fputc('\n', out);
    fflush(out);
    return true;
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     ryxstrstream::ostrstream& stream) {
    const char* text = stream.str();
    return write(component, file, line, level, text, stream.pcount());
}

bool RYXTrace::write(unsigned int component, const char* file, int line, unsigned int level,
                     ryxstrstream::strstream& stream) {
    const char* text = stream.str();
    return write(component, file, line, level, text, stream.pcount());
}

void RYXTrace::setOn(bool on) {
    m_on.store(on, std::memory_order_relaxed);
}

void RYXTrace::setComponentMask(unsigned int mask) {
    m_componentMask.store(mask, std::memory_order_relaxed);
}

void RYXTrace::setLevelMask(unsigned int mask) {
    m_levelMask.store(mask, std::memory_order_relaxed);
}

bool RYXTrace::setFile(const char* path) {
    ryx::UniquePtr<FILE> file;
    if (path != nullptr) {
        file.reset(fopen(path, "a"));
        if (!file) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->file = std::move(file);
    return true;
}

void RYXTrace::configureFromEnvironment() {
    const char* on = ryx_sys_getenv("RYX_TRACE");
    setOn(on != nullptr && (strcmp(on, "1") == 0 || strcasecmp(on, "on") == 0));
    const char* file = ryx_sys_getenv("RYX_TRACE_FILE");
    if (file != nullptr && *file != '\0' && !setFile(file)) {
        fprintf(stderr, "RYXTrace: cannot open trace file %s: %s\n", file, strerror(errno));
    }
    unsigned int mask = 0;
    if (parseMask(ryx_sys_getenv("RYX_TRACE_COMPONENTS"), mask)) {
        setComponentMask(mask);
    }
    if (parseMask(ryx_sys_getenv("RYX_TRACE_LEVELS"), mask)) {
        setLevelMask(mask);
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
    std::vector<RYXTraceRecord> records;
    records.swap(m_impl->records);
    return records;
}

std::vector<RYXTraceRecord> RYXTrace::captured() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->records;
}

void RYXTraceFunction::enter(const char* file, int line, const char* name) {
    RYXTrace* t = RYXTrace::s_defaultTracePtr;
    if (t == nullptr) {
        return;
    }
    if (name == nullptr) {
        name = "";
    }
    if (t->write(m_component, file, line, RYX_TRACE_LEVEL_ENTRY, name, strlen(name))) {
        m_name = name;
        m_written = true;
    }
}

void RYXTraceFunction::leave() noexcept {
    try {
        RYXTrace* t = RYXTrace::s_defaultTracePtr;
        if (t != nullptr && t->isEnabled(m_component, RYX_TRACE_LEVEL_EXIT)) {
            t->write(m_component, nullptr, 0, RYX_TRACE_LEVEL_EXIT, m_name.data(), m_name.size());
        }
    } catch (...) {
        // A trace failure must never escape from a destructor.
    }
}
