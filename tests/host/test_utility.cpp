// Hex conversion and hex dumps.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ryxexception.h"
#include "ryxutility.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes bytesOf(const RYXBuffer& b) {
    return Bytes(b.getValue(), b.getValue() + b.getLength());
}

TEST(HexString, ConvertsEitherCaseAndNamesWhatIsWrong) {
    const struct {
        const char* hex;
        size_t length;
        Bytes bytes;
        int code;             // 0: converts to bytes
        const char* message;  // part of the message
    } cases[] = {
        {"00ff10Ab7F", 10, {0x00, 0xff, 0x10, 0xab, 0x7f}, 0, ""},
        {"ABCDEF", 6, {0xab, 0xcd, 0xef}, 0, ""},
        {"abcdxx", 4, {0xab, 0xcd}, 0, ""},
        {"", 0, {}, 0, ""},
        {nullptr, 0, {}, 0, ""},
        {"abc", 3, {}, RYX_ERR_HEX_STRING, "odd number of hex digits (3)"},
        {"0g", 2, {}, RYX_ERR_HEX_STRING, "'g' (0x67) at offset 1"},
        {"a b", 3, {}, RYX_ERR_HEX_STRING, "' ' (0x20) at offset 1"},  // before the odd length
        {"ab\0cd", 5, {}, RYX_ERR_HEX_STRING, "0x00 at offset 2"},
        {"0x12", 4, {}, RYX_ERR_HEX_STRING, "'x'"},
        {"\xc3\xa9", 2, {}, RYX_ERR_HEX_STRING, ""},
        {nullptr, 2, {}, RYX_ERR_INVALID_ARGUMENT, ""},
    };
    for (const auto& c : cases) {
        const std::string shown = c.hex != nullptr ? std::string(c.hex, c.length) : "(null)";
        try {
            EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary(c.hex, c.length)), c.bytes) << shown;
            EXPECT_EQ(c.code, 0) << shown;
        } catch (const RYXException& e) {
            EXPECT_EQ(e.getError(), c.code) << shown;
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(RYXUtility::hexStringToBinary(nullptr), RYXException);
}

// Every byte to hex and back; dumps in rows of 16 bytes: offset, the bytes in
// hex, the printable ones (0x20 to 0x7e) as text.
TEST(HexDump, EveryByteInRowsOf16) {
    Bytes all(300);
    for (size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<unsigned char>(i);
    }
    const RYXString hex = RYXUtility::binaryToHexString(all.data(), 256);
    EXPECT_EQ(std::string(hex.c_str(), hex.length()).substr(506), "fdfeff");
    EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary(hex.c_str())),
              Bytes(all.begin(), all.begin() + 256));
    const auto dump = [](const Bytes& bytes) {
        std::ostringstream os;
        RYXUtility::hexdump(os, "HEX",
                            RYXBuffer(static_cast<unsigned int>(bytes.size()), bytes.data()));
        return os.str();
    };
    EXPECT_EQ(dump({}), "HEX (0 bytes)\n");
    EXPECT_EQ(dump({'A'}), "HEX (1 byte)\n0000: 41 " + std::string(45, ' ') + " A\n");
    std::istringstream in(dump(all));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 1u + 19u);
    EXPECT_EQ(lines[0], "HEX (300 bytes)");
    EXPECT_EQ(lines[1], "0000: 00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f  ................");
    EXPECT_EQ(lines[3], "0020: 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f   !\"#$%&'()*+,-./");
    EXPECT_EQ(lines[8].substr(55), "pqrstuvwxyz{|}~.");  // DEL is not printable
    EXPECT_EQ(lines[9].substr(55), "................");  // nor 0x80 and above
    EXPECT_EQ(lines[19],
              "0120: 20 21 22 23 24 25 26 27 28 29 2a 2b" + std::string(14, ' ') + " !\"#$%&'()*+");
}

}  // namespace
