#include "timetext.h"

#include <cctype>
#include <cstdio>

namespace ryxdir {

namespace {

bool allDigits(const std::string& text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseTime(const std::string& text, std::time_t& when) {
    if (allDigits(text)) {
        if (text.size() > 12) {  // beyond the year 30000
            return false;
        }
        when = static_cast<std::time_t>(std::stoll(text));
        return true;
    }
    // Exactly YYYY-MM-DDTHH:MM:SSZ, digits where digits go.
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof kShape - 1) {
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) {
            return false;
        }
    }
    struct tm tm = {};
    std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                &tm.tm_hour, &tm.tm_min, &tm.tm_sec);
    const struct tm asked = tm;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::time_t t = timegm(&tm);
    // timegm normalises out-of-range fields: a real moment comes back unchanged.
    if (tm.tm_year + 1900 != asked.tm_year || tm.tm_mon + 1 != asked.tm_mon ||
        tm.tm_mday != asked.tm_mday || tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min ||
        tm.tm_sec != asked.tm_sec) {
        return false;
    }
    when = t;
    return true;
}

}  // namespace ryxdir
