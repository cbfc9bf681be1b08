// RYXString and RYXConstString.
#include "ryxstring.h"

#include <cstdio>
#include <cstring>
#include <ostream>
#include <utility>

#include "ryxexception.h"

namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

size_t findIgnoreCase(const std::string& hay, const char* needle, size_t needleLength, size_t pos) {
    if (pos > hay.size() || needleLength > hay.size() - pos) {
        return RYXString::npos;
    }
    for (size_t i = pos; i + needleLength <= hay.size(); ++i) {
        size_t k = 0;
        while (k < needleLength && lowerAscii(hay[i + k]) == lowerAscii(needle[k])) {
            ++k;
        }
        if (k == needleLength) {
            return i;
        }
    }
    return RYXString::npos;
}

int sign(int v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

}  // namespace

const size_t RYXString::npos = std::string::npos;

RYXString::RYXString() = default;
RYXString::RYXString(const char* text) : m_value(text == nullptr ? "" : text) {}
RYXString::RYXString(const char* text, size_t length) {
    if (text != nullptr) {
        m_value.assign(text, length);
    }
}
RYXString::RYXString(const RYXString& other) = default;
RYXString::RYXString(RYXString&& other) noexcept : m_value(std::move(other.m_value)) {}
RYXString::~RYXString() = default;

RYXString& RYXString::operator=(const RYXString& other) = default;
RYXString& RYXString::operator=(RYXString&& other) noexcept {
    m_value = std::move(other.m_value);
    return *this;
}
RYXString& RYXString::operator=(const char* text) {
    return assign(text);
}

RYXString& RYXString::assign(const char* text) {
    if (text == nullptr) {
        m_value.clear();
    } else {
        m_value.assign(text);
    }
    return *this;
}

RYXString& RYXString::assign(const char* text, size_t length) {
    if (text == nullptr) {
        m_value.clear();
    } else {
        m_value.assign(text, length);
    }
    return *this;
}

RYXString& RYXString::operator+=(const RYXString& other) {
    return append(other);
}
RYXString& RYXString::operator+=(const char* text) {
    return append(text);
}
RYXString& RYXString::operator+=(char c) {
    m_value.push_back(c);
    return *this;
}

RYXString& RYXString::append(const RYXString& other) {
    m_value.append(other.m_value);
    return *this;
}

RYXString& RYXString::append(const char* text) {
    if (text != nullptr) {
        m_value.append(text);
    }
    return *this;
}

RYXString& RYXString::append(const char* text, size_t length) {
    if (text != nullptr) {
        m_value.append(text, length);
    }
    return *this;
}

RYXString& RYXString::insert(size_t pos, const RYXString& other) {
    if (pos > m_value.size()) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "RYXString::insert: position beyond the end");
    }
    m_value.insert(pos, other.m_value);
    return *this;
}

RYXString& RYXString::insert(size_t pos, const char* text) {
    if (pos > m_value.size()) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "RYXString::insert: position beyond the end");
    }
    if (text != nullptr) {
        m_value.insert(pos, text);
    }
    return *this;
}

RYXString& RYXString::erase(size_t pos, size_t count) {
    if (pos > m_value.size()) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "RYXString::erase: position beyond the end");
    }
    m_value.erase(pos, count);
    return *this;
}

void RYXString::push_back(char c) {
    m_value.push_back(c);
}

size_t RYXString::find(const char* text, size_t pos) const {
    if (text == nullptr) {
        return npos;
    }
    return m_value.find(text, pos);
}

size_t RYXString::find(char c, size_t pos) const {
    return m_value.find(c, pos);
}

size_t RYXString::find_ignorecase(const char* text, size_t pos) const {
    if (text == nullptr) {
        return npos;
    }
    return findIgnoreCase(m_value, text, strlen(text), pos);
}

size_t RYXString::find_ignorecase(const RYXString& text, size_t pos) const {
    return findIgnoreCase(m_value, text.m_value.data(), text.m_value.size(), pos);
}

RYXString RYXString::substr(size_t pos, size_t count) const {
    if (pos > m_value.size()) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "RYXString::substr: position beyond the end");
    }
    std::string part = m_value.substr(pos, count);
    return RYXString(part.data(), part.size());
}

int RYXString::compare(const RYXString& other) const {
    return sign(m_value.compare(other.m_value));
}

int RYXString::compare(const char* text) const {
    return sign(m_value.compare(text == nullptr ? "" : text));
}

const char* RYXString::c_str() const {
    return m_value.c_str();
}
const char* RYXString::data() const {
    return m_value.data();
}
size_t RYXString::length() const {
    return m_value.size();
}
bool RYXString::empty() const {
    return m_value.empty();
}
char RYXString::operator[](size_t pos) const {
    return pos < m_value.size() ? m_value[pos] : '\0';
}

bool operator==(const RYXString& a, const RYXString& b) {
    return a.compare(b) == 0;
}
bool operator!=(const RYXString& a, const RYXString& b) {
    return a.compare(b) != 0;
}
bool operator<(const RYXString& a, const RYXString& b) {
    return a.compare(b) < 0;
}
RYXString operator+(const RYXString& a, const RYXString& b) {
    RYXString result(a);
    result += b;
    return result;
}
std::ostream& operator<<(std::ostream& os, const RYXString& s) {
    return os.write(s.data(), static_cast<std::streamsize>(s.length()));
}

RYXConstString::RYXConstString() = default;
RYXConstString::RYXConstString(const char* text) : m_value(text) {}
RYXConstString::RYXConstString(const char* text, size_t length) : m_value(text, length) {}
RYXConstString::RYXConstString(const RYXString& text) : m_value(text) {}
RYXConstString::RYXConstString(const RYXConstString& other) = default;
RYXConstString::RYXConstString(RYXConstString&& other) noexcept
    : m_value(std::move(other.m_value)) {}
RYXConstString::~RYXConstString() = default;
RYXConstString& RYXConstString::operator=(const RYXConstString& other) = default;
RYXConstString& RYXConstString::operator=(RYXConstString&& other) noexcept {
    m_value = std::move(other.m_value);
    return *this;
}

size_t RYXConstString::length() const {
    return m_value.length();
}
int RYXConstString::compare(const char* text) const {
    return m_value.compare(text);
}
int RYXConstString::compare(const RYXConstString& other) const {
    return m_value.compare(other.m_value);
}
const char* RYXConstString::asCString() const {
    return m_value.c_str();
}

void RYXConstString::display(std::ostream& os) const {
    const char* p = m_value.data();
    for (size_t i = 0; i < m_value.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x20 && c < 0x7f) {
            os.put(static_cast<char>(c));
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            os << hex;
        }
    }
}

std::ostream& operator<<(std::ostream& os, const RYXConstString& s) {
    return os.write(s.asCString(), static_cast<std::streamsize>(s.length()));
}
