#include "terminal.h"

#include <unistd.h>

#include <cstdio>

#include "ryxldapdiag.h"

namespace ryxdir {

namespace {

bool g_quiet = false;

// A search shows progress after this long, and redraws at most this often.
constexpr std::chrono::milliseconds kShowAfter(1000);
constexpr std::chrono::milliseconds kRedraw(250);

}  // namespace

void setQuiet(bool quiet) {
    g_quiet = quiet;
}

void warn(const std::string& text) {
    if (!g_quiet)
        std::fprintf(stderr, "ryxdir: warning: %s\n", text.c_str());
}

std::string byteText(unsigned long long bytes) {
    static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
    if (bytes < 1000)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1000;
    size_t unit = 0;
    while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof *kUnits) {
        value /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

Progress::Progress()
    : m_on(!g_quiet && ::isatty(STDERR_FILENO) == 1), m_start(Clock::now()), m_last(m_start) {
    if (m_on)
        ryx_ldap_set_progress(&Progress::received, this);
}

Progress::~Progress() {
    if (m_on)
        ryx_ldap_set_progress(nullptr, nullptr);
    end();
}

void Progress::end() {
    if (m_shown)
        std::fputs("\r\033[K", stderr);
    m_shown = false;
}

void Progress::received(unsigned long long bytes, int ended, void* self) {
    Progress* progress = static_cast<Progress*>(self);
    if (ended != 0)
        progress->end();
    else
        progress->show(bytes);
}

// 0 starts a search; the line appears once it has run for kShowAfter.
void Progress::show(unsigned long long bytes) {
    const Clock::time_point now = Clock::now();
    if (bytes == 0) {
        end();
        m_start = now;
        return;
    }
    if (now - m_start < kShowAfter || (m_shown && now - m_last < kRedraw))
        return;
    const long seconds =
        static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(now - m_start).count());
    std::fprintf(stderr, "\rryxdir: %s received, %ld s\033[K", byteText(bytes).c_str(), seconds);
    std::fflush(stderr);
    m_shown = true;
    m_last = now;
}

}  // namespace ryxdir
