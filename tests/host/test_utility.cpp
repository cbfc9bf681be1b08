// Hex conversion and hex dumps.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ryxexception.h"
#include "ryxutility.h"

namespace {

std::vector<unsigned char> bytesOf(const RYXBuffer& b) {
    return std::vector<unsigned char>(b.getValue(), b.getValue() + b.getLength());
}

std::string dump(const std::vector<unsigned char>& bytes) {
    std::ostringstream os;
    RYXUtility::hexdump(os, "HEX",
                        RYXBuffer(static_cast<unsigned int>(bytes.size()), bytes.data()));
    return os.str();
}

// The message of the RYXException that the conversion throws, after checking its code.
std::string hexError(const char* hex, size_t length, int code = RYX_ERR_HEX_STRING) {
    try {
        RYXUtility::hexStringToBinary(hex, length);
    } catch (const RYXException& e) {
        EXPECT_EQ(e.getError(), code) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "accepted " << std::string(hex == nullptr ? "(null)" : hex, length);
    return std::string();
}

TEST(HexString, ConvertsEitherCase) {
    EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary("00ff10Ab7F")),
              (std::vector<unsigned char>{0x00, 0xff, 0x10, 0xab, 0x7f}));
    EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary("ABCDEF")),
              bytesOf(RYXUtility::hexStringToBinary("abcdef")));
    EXPECT_EQ(RYXUtility::hexStringToBinary("").getLength(), 0u);
    EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary("abcdxx", 4)),
              (std::vector<unsigned char>{0xab, 0xcd}));
    EXPECT_EQ(RYXUtility::hexStringToBinary(nullptr, 0).getLength(), 0u);
}

TEST(HexString, RejectsBadText) {
    EXPECT_NE(hexError("abc", 3).find("odd number of hex digits (3)"), std::string::npos);
    std::string message = hexError("0g", 2);
    EXPECT_NE(message.find("'g'"), std::string::npos) << message;
    EXPECT_NE(message.find("offset 1"), std::string::npos) << message;
    // A bad character is named even when the length is odd too.
    EXPECT_NE(hexError("a b", 3).find("' ' (0x20) at offset 1"), std::string::npos);
    EXPECT_NE(hexError("ab\0cd", 5).find("0x00 at offset 2"), std::string::npos);
    EXPECT_NE(hexError("0x12", 4).find("'x'"), std::string::npos);
    hexError("\xc3\xa9", 2);
    hexError(nullptr, 2, RYX_ERR_INVALID_ARGUMENT);
    EXPECT_THROW(RYXUtility::hexStringToBinary(nullptr), RYXException);
}

TEST(HexString, RoundTripsEveryByte) {
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<unsigned char>(i);
    }
    RYXString hex = RYXUtility::binaryToHexString(all.data(), all.size());
    ASSERT_EQ(hex.length(), 512u);
    EXPECT_EQ(std::string(hex.c_str(), 6), "000102");
    EXPECT_EQ(std::string(hex.c_str() + 506), "fdfeff");
    EXPECT_EQ(bytesOf(RYXUtility::hexStringToBinary(hex.c_str())), all);
    EXPECT_EQ(RYXUtility::binaryToHexString(nullptr, 0).length(), 0u);
}

TEST(HexDump, Format) {
    EXPECT_EQ(dump({}), "HEX (0 bytes)\n");
    EXPECT_EQ(dump({'A'}), "HEX (1 byte)\n0000: 41 " + std::string(45, ' ') + " A\n");

    std::vector<unsigned char> sixteen;
    for (int i = 0; i < 16; ++i) {
        sixteen.push_back(static_cast<unsigned char>(i == 5 ? 'x' : i));
    }
    const std::string line0 =
        "0000: 00 01 02 03 04 78 06 07 08 09 0a 0b 0c 0d 0e 0f  .....x..........\n";
    EXPECT_EQ(dump(sixteen), "HEX (16 bytes)\n" + line0);

    std::vector<unsigned char> seventeen = sixteen;
    seventeen.push_back(0x7e);
    EXPECT_EQ(dump(seventeen),
              "HEX (17 bytes)\n" + line0 + "0010: 7e " + std::string(45, ' ') + " ~\n");
}

TEST(HexDump, LongBuffers) {
    std::vector<unsigned char> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    std::istringstream in(dump(bytes));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 1u + 19u);
    EXPECT_EQ(lines[0], "HEX (300 bytes)");
    EXPECT_EQ(lines[3], "0020: 20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f   !\"#$%&'()*+,-./");
    EXPECT_EQ(lines[19].substr(0, 42), "0120: 20 21 22 23 24 25 26 27 28 29 2a 2b ");
    EXPECT_EQ(lines[19].size(), 6u + 48u + 1u + 12u);
    for (size_t i = 1; i < 19; ++i) {
        EXPECT_EQ(lines[i].size(), 6u + 48u + 1u + 16u) << i;
    }
    // Bytes 0x80 and above are not printable.
    EXPECT_EQ(lines[9].substr(55), "................");
}

}  // namespace
