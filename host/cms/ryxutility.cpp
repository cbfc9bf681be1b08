// Hex conversion and hex dumps.
#include "ryxutility.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ryxexception.h"
#include "ryxhex.h"

namespace {

[[noreturn]] void throwHex(const std::string& message) {
    throw RYXException(__FILE__, __LINE__, RYX_ERR_HEX_STRING,
                       RYXString(message.data(), message.size()));
}

}  // namespace

RYXBuffer RYXUtility::hexStringToBinary(const char* hex) {
    if (hex == nullptr) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "Invalid hex string: null text");
    }
    return hexStringToBinary(hex, std::strlen(hex));
}

// Every character is checked first, so a bad character is reported as such even
// when the length is odd too.
RYXBuffer RYXUtility::hexStringToBinary(const char* hex, size_t length) {
    if (length == 0) {
        return RYXBuffer();
    }
    if (hex == nullptr) {
        throw RYXException(__FILE__, __LINE__, RYX_ERR_INVALID_ARGUMENT,
                           "Invalid hex string: null text");
    }
    if (length / 2 > UINT_MAX) {
        throwHex("Invalid hex string: " + std::to_string(length) + " digits are too many");
    }
    std::vector<unsigned char> bytes(length / 2);
    for (size_t i = 0; i < length; ++i) {
        int value = ryx::hexDigitValue(hex[i]);
        if (value < 0) {
            unsigned char c = static_cast<unsigned char>(hex[i]);
            char shown[32];
            if (c >= 0x20 && c < 0x7f) {
                std::snprintf(shown, sizeof shown, "'%c' (0x%02x)", c, c);
            } else {
                std::snprintf(shown, sizeof shown, "0x%02x", c);
            }
            throwHex("Invalid hex string: non-hex character " + std::string(shown) + " at offset " +
                     std::to_string(i));
        }
        if (i / 2 < bytes.size()) {
            bytes[i / 2] =
                static_cast<unsigned char>(i % 2 == 0 ? value << 4 : bytes[i / 2] | value);
        }
    }
    if (length % 2 != 0) {
        throwHex("Invalid hex string: odd number of hex digits (" + std::to_string(length) + ")");
    }
    return RYXBuffer(static_cast<unsigned int>(bytes.size()), bytes.data());
}

RYXString RYXUtility::binaryToHexString(const unsigned char* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    if (bytes == nullptr || length == 0) {
        return RYXString();
    }
    std::string text(length * 2, '\0');
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return RYXString(text.data(), text.size());
}

// The dump, every line ending in '\n':
//   <title> (<n> bytes)
//   0000: 48 45 4c 4c 4f 0a                                 HELLO.
// one line per 16 bytes: the offset in lower-case hex of at least four digits,
// ": ", three columns ("xx ") for each of 16 bytes (blank past the end), one
// space, and the bytes themselves, those outside 0x20..0x7e shown as '.'.
// An empty buffer gives the title line alone.
void RYXUtility::hexdump(std::ostream& os, const char* title, const RYXBuffer& data) {
    const unsigned char* bytes = data.getValue();
    size_t length = data.getLength();
    std::string out(title == nullptr ? "" : title);
    out += " (" + std::to_string(length) + (length == 1 ? " byte)\n" : " bytes)\n");
    for (size_t offset = 0; offset < length; offset += 16) {
        char line[16 + 2 + 48 + 1 + 16 + 2];
        int used = std::snprintf(line, sizeof line, "%04zx: ", offset);
        std::string text(line, static_cast<size_t>(used));
        for (size_t i = 0; i < 16; ++i) {
            if (offset + i < length) {
                std::snprintf(line, sizeof line, "%02x ", bytes[offset + i]);
                text += line;
            } else {
                text += "   ";
            }
        }
        text += ' ';
        for (size_t i = 0; i < 16 && offset + i < length; ++i) {
            unsigned char c = bytes[offset + i];
            text += (c >= 0x20 && c <= 0x7e) ? static_cast<char>(c) : '.';
        }
        text += '\n';
        out += text;
    }
    os.write(out.data(), static_cast<std::streamsize>(out.size()));
}
