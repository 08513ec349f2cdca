#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "codec/zeph.h"
#include "codec_test_support.h"

namespace {

// One byte at a time through the published table: the reference every
// faster CRC must agree with.
std::uint16_t byteTableCrc(const std::string& bytes) {
    std::uint16_t crc = 0;
    for (unsigned char b : bytes) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ zeph::crc16tab[((crc >> 8) ^ b) & 0xFF]);
    }
    return crc;
}

TEST(Crc16, CheckValueAndEmptyInput) {
    EXPECT_EQ(zeph::crc16_ccitt("123456789", 9), 0x31C3);
    EXPECT_EQ(zeph::crc16_ccitt("abc", 3), 40406);
    EXPECT_EQ(zeph::crc16_ccitt("abc", 0), 0);
    EXPECT_EQ(zeph::crc16_ccitt(nullptr, 0), 0);
    EXPECT_EQ(zeph::crc16_ccitt(nullptr, -5), 0);  // never reads data
}

TEST(Crc16, TableIsPolynomial0x1021ShiftedMsbFirst) {
    for (unsigned i = 0; i < 256; ++i) {
        unsigned reg = i << 8;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000) ? ((reg << 1) ^ 0x1021) : (reg << 1);
        }
        EXPECT_EQ(zeph::crc16tab[i], reg & 0xFFFF) << "entry " << i;
    }
    EXPECT_EQ(zeph::crc16tab[1], 0x1021);
    EXPECT_EQ(zeph::crc16tab[2], 0x2042);
    EXPECT_EQ(zeph::crc16tab[255], 0x1EF0);
}

// Every length from 0 to 80 at every alignment, then long buffers: the
// wide loop, its byte tail and their seam all match the byte table.
TEST(Crc16, MatchesByteTableAtEveryLengthAndAlignment) {
    std::mt19937 rng(7);
    const std::string data = codectest::randomBytes(rng, 1 << 16);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 0; length <= 80; ++length) {
            const std::string piece = data.substr(offset, length);
            ASSERT_EQ(zeph::crc16_ccitt(piece.data(), static_cast<int>(length)),
                      byteTableCrc(piece))
                << "offset " << offset << " length " << length;
        }
    }
    for (std::size_t length : {4093u, 65536u - 3, 65536u}) {
        const std::string piece = data.substr(3, length);
        EXPECT_EQ(zeph::crc16_ccitt(piece.data(), static_cast<int>(piece.size())),
                  byteTableCrc(piece));
    }
}

TEST(ToString, SignedDecimalWithoutPadding) {
    EXPECT_EQ(zeph::to_string(0), "0");
    EXPECT_EQ(zeph::to_string(-1), "-1");
    EXPECT_EQ(zeph::to_string(65535), "65535");
    EXPECT_EQ(zeph::to_string(2147483647), "2147483647");
    EXPECT_EQ(zeph::to_string(-2147483647 - 1), "-2147483648");
}

}  // namespace
