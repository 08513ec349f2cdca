// The CRC, the wire form and the message record.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "codec/Message.h"
#include "codec/zeph.h"
#include "codec_test_support.h"

namespace {

using codectest::rawMessage;
using zeph::Message;

// CRC-16/XMODEM bit by bit: the reference for the byte table and the
// sixteen-byte loop, its tail and their seam.
std::uint16_t bitwiseCrc(const std::string& bytes) {
    unsigned crc = 0;
    for (unsigned char b : bytes) {
        crc ^= b << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return crc & 0xFFFF;
}

TEST(Crc16, CheckValueAndEveryLengthAndAlignment) {
    EXPECT_EQ(zeph::crc16_ccitt("123456789", 9), 0x31C3);
    EXPECT_EQ(zeph::crc16_ccitt(nullptr, -5), 0);  // never reads data
    std::mt19937 rng(7);
    const std::string data = codectest::randomBytes(rng, 1 << 16);
    for (std::size_t offset = 0; offset < 8; ++offset) {
        for (std::size_t length = 0; length <= 80; ++length) {
            const std::string piece = data.substr(offset, length);
            ASSERT_EQ(zeph::crc16_ccitt(piece.data(), static_cast<int>(length)), bitwiseCrc(piece))
                << "offset " << offset << " length " << length;
        }
    }
    const std::string large = data.substr(3);
    EXPECT_EQ(zeph::crc16_ccitt(large.data(), static_cast<int>(large.size())), bitwiseCrc(large));
}

// Header lines sort by unsigned bytes: upper case before lower case, "-"
// inside a name before letters, bytes above 0x7F last.
TEST(Wire, GoldenTexts) {
    Message abc;
    abc.setBody("abc");
    EXPECT_EQ(abc.toString(),
              rawMessage({"code:0", "content-size:3", "content-type:octet-stream",
                          "edc-type:crc16-ccitt", "edc-word:40406", "source:0", "version:1.0"},
                         "abc"));
    EXPECT_FALSE(abc.hasHeader("edc-word")) << "writing leaves the message as it was";

    EXPECT_EQ(Message().toString(), rawMessage({"code:0", "edc-type:crc16-ccitt", "edc-word:0",
                                                "source:0", "version:1.0"}));

    Message sorted("ConsultarSAT", "3");
    sorted.setBody("x");
    sorted.addHeader("drs-version", "01.00.01.001");
    sorted.addHeader("Code", "upper");
    sorted.addHeader("\xE9t\xE9", "latin");
    EXPECT_EQ(sorted.headers(), rawMessage({"Code:upper", "code:ConsultarSAT", "content-size:1",
                                            "content-type:octet-stream", "drs-version:01.00.01.001",
                                            "edc-type:crc16-ccitt", "edc-word:65439", "source:3",
                                            "version:1.0", "\xE9t\xE9:latin"}));
}

TEST(Wire, BodyKeepsZeroBytesAndNullIsEmpty) {
    const std::string body("ab\0cd\0", 6);
    Message message;
    message.setBody(body.data(), static_cast<unsigned>(body.size()));
    EXPECT_EQ(message.header("content-size"), "6");
    EXPECT_EQ(std::memcmp(message.bodyAsCString(), body.data(), 7), 0);  // terminating zero too
    const std::string text = message.toString();
    EXPECT_EQ(text.substr(text.size() - 6), body);

    message.setBody(nullptr, 100);  // no bytes behind a null pointer
    EXPECT_EQ(message.bodySize(), 0u);
    EXPECT_EQ(message.header("content-size"), "0");
}

TEST(Record, CodeSourceHeadersAndCopies) {
    Message message("A", "1");
    message.addHeader("code", "B");
    EXPECT_EQ(message.code(), "A");
    message.setCode(INT_MIN);
    message.setSourceId(42);
    EXPECT_EQ(message.header("code"), "-2147483648");
    EXPECT_EQ(message.sourceId(), "42");
    EXPECT_EQ(message.header("absent"), "");
    EXPECT_FALSE(message.hasHeader("absent")) << "asking adds no header line";

    message.setBody("body");
    Message copy(message);
    copy.setBody("other");
    copy.addHeader("extra", "1");
    EXPECT_EQ(message.body(), "body");
    EXPECT_FALSE(message.hasHeader("extra"));
    Message& same = message;
    message = same;
    EXPECT_EQ(message.body(), "body");
    copy = message;
    EXPECT_TRUE(copy == message);
}

}  // namespace
