#include "ryxstring.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ostream>

#include "ryxexception.h"

const size_t RYXString::npos = std::string::npos;

RYXString::RYXString() = default;
RYXString::RYXString(const char* text) : m_value(text == nullptr ? "" : text) {}
RYXString::RYXString(const char* text, size_t length)
    : m_value(text == nullptr ? std::string() : std::string(text, length)) {}
RYXString::RYXString(const RYXString& other) = default;
RYXString::RYXString(RYXString&& other) noexcept = default;
RYXString::~RYXString() = default;
RYXString& RYXString::operator=(const RYXString& other) = default;
RYXString& RYXString::operator=(RYXString&& other) noexcept = default;
RYXString& RYXString::operator=(const char* text) {
    return assign(text);
}

RYXString& RYXString::assign(const char* text) {
    m_value.assign(text == nullptr ? "" : text);
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
    return insert(pos, RYXString(text));
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
    return text == nullptr ? npos : m_value.find(text, pos);
}
size_t RYXString::find(char c, size_t pos) const {
    return m_value.find(c, pos);
}

size_t RYXString::find_ignorecase(const char* text, size_t pos) const {
    if (text == nullptr) {
        return npos;
    }
    size_t n = strlen(text);
    if (pos > m_value.size() || n > m_value.size() - pos) {
        return npos;
    }
    for (size_t i = pos; i + n <= m_value.size(); ++i) {
        if (strncasecmp(m_value.data() + i, text, n) == 0) {
            return i;
        }
    }
    return npos;
}
size_t RYXString::find_ignorecase(const RYXString& text, size_t pos) const {
    return find_ignorecase(text.c_str(), pos);
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
    return m_value.compare(other.m_value);
}
int RYXString::compare(const char* text) const {
    return m_value.compare(text == nullptr ? "" : text);
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
    RYXString r(a);
    r += b;
    return r;
}
std::ostream& operator<<(std::ostream& os, const RYXString& s) {
    return os.write(s.data(), static_cast<std::streamsize>(s.length()));
}

RYXConstString::RYXConstString() = default;
RYXConstString::RYXConstString(const char* text) : m_value(text) {}
RYXConstString::RYXConstString(const char* text, size_t length) : m_value(text, length) {}
RYXConstString::RYXConstString(const RYXString& text) : m_value(text) {}
RYXConstString::RYXConstString(const RYXConstString& other) = default;
RYXConstString::RYXConstString(RYXConstString&& other) noexcept = default;
RYXConstString::~RYXConstString() = default;
RYXConstString& RYXConstString::operator=(const RYXConstString& other) = default;
RYXConstString& RYXConstString::operator=(RYXConstString&& other) noexcept = default;

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
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < m_value.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(m_value[i]);
        if (isprint(c)) {
            os.put(static_cast<char>(c));
        } else {
            os << "\\x" << digits[c >> 4] << digits[c & 15];
        }
    }
}

std::ostream& operator<<(std::ostream& os, const RYXConstString& s) {
    return os.write(s.asCString(), static_cast<std::streamsize>(s.length()));
}
