#include "json.h"

#include <cstdio>

namespace ryxdir {

namespace {

// Length of the UTF-8 sequence that starts at text[i], or 0 when the bytes
// there are not one well-formed sequence (overlong forms and surrogates included).
size_t utf8Length(const std::string& text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b = byte(i);
    size_t n = 0;
    unsigned int low = 0x80, high = 0xbf;  // allowed range of the second byte
    if (b < 0x80) {
        return 1;
    } else if (b >= 0xc2 && b <= 0xdf) {
        n = 2;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3;
        low = b == 0xe0 ? 0xa0 : 0x80;
        high = b == 0xed ? 0x9f : 0xbf;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4;
        low = b == 0xf0 ? 0x90 : 0x80;
        high = b == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high) {
        return 0;
    }
    for (size_t k = 2; k < n; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf) {
            return 0;
        }
    }
    return n;
}

}  // namespace

std::string jsonQuoted(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c >= 0x80) {
            const size_t n = utf8Length(text, i);
            if (n == 0) {
                out += "\xef\xbf\xbd";  // U+FFFD for a byte that is not UTF-8
                ++i;
                continue;
            }
            out.append(text, i, n);
            i += n;
            continue;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    return out;
}

void JsonWriter::beforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_empty.empty()) {
        if (!m_empty.back()) {
            m_out += ',';
        }
        m_empty.back() = false;
        newLine(m_empty.size());
    }
}

void JsonWriter::newLine(size_t depth) {
    if (!m_oneLine) {
        m_out += '\n';
        m_out.append(2 * depth, ' ');
    }
}

void JsonWriter::open(char bracket) {
    beforeValue();
    m_out += bracket;
    m_empty.push_back(true);
}

void JsonWriter::close(char bracket) {
    const bool empty = m_empty.back();
    m_empty.pop_back();
    if (!empty) {
        newLine(m_empty.size());
    }
    m_out += bracket;
    if (m_empty.empty()) {
        m_out += '\n';
    }
}

void JsonWriter::beginObject() {
    open('{');
}

void JsonWriter::beginDocument() {
    beginObject();
    member("format", kJsonFormat);
}

void JsonWriter::endObject() {
    close('}');
}

void JsonWriter::beginArray() {
    open('[');
}

void JsonWriter::endArray() {
    close(']');
}

void JsonWriter::key(const std::string& name) {
    beforeValue();
    m_out += jsonQuoted(name);
    m_out += m_oneLine ? ":" : ": ";
    m_afterKey = true;
}

void JsonWriter::value(const std::string& text) {
    beforeValue();
    m_out += jsonQuoted(text);
}

void JsonWriter::value(long long number) {
    beforeValue();
    m_out += std::to_string(number);
}

void JsonWriter::value(bool flag) {
    beforeValue();
    m_out += flag ? "true" : "false";
}

void JsonWriter::null() {
    beforeValue();
    m_out += "null";
}

}  // namespace ryxdir
