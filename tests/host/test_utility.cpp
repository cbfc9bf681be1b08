// Hex conversion and hex dumps.
#include <gtest/gtest.h>

#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "labpki.h"
#include "runprogram.h"
#include "ryxexception.h"
#include "ryxutility.h"

namespace {

typedef std::vector<unsigned char> Bytes;

Bytes bytesOf(const RYXBuffer& b) {
    return Bytes(b.getValue(), b.getValue() + b.getLength());
}

TEST(HexString, ConvertsEitherCaseAndNamesWhatIsWrong) {
    const std::map<std::string, int> codes = {
        {"ok", 0}, {"hex", RYX_ERR_HEX_STRING}, {"argument", RYX_ERR_INVALID_ARGUMENT}};
    for (const auto& c : spawntest::readCases(RYX_TEST_DATA_DIR "/hex.tsv")) {
        const char* hex = c.at(0) == "(null)" ? nullptr : c[0].c_str();
        const size_t length = std::stoul(c.at(1));
        try {
            const Bytes bytes = bytesOf(RYXUtility::hexStringToBinary(hex, length));
            ASSERT_EQ(c.at(2), "ok") << c[0];
            EXPECT_EQ(bytes, labpki::fromHex(c.at(3))) << c[0];
        } catch (const RYXException& e) {
            EXPECT_EQ(e.getError(), codes.at(c.at(2))) << c[0];
            EXPECT_NE(std::string(e.what()).find(c.at(3)), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(RYXUtility::hexStringToBinary(nullptr), RYXException);
}

// Every byte to hex and back; dumps in rows of 16 bytes: offset, the bytes in
// hex, the printable ones (0x20 to 0x7e) as text.
TEST(HexDump, EveryByteInRowsOf16) {
    Bytes all(300);
    std::iota(all.begin(), all.end(), static_cast<unsigned char>(0));  // wraps after 0xff
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
