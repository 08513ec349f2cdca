// The zlib body: level 9 both ways, only from the form each direction
// converts, and a cap on what a received message may make us allocate.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "codec/Message.h"
#include "codec/zeph.h"
#include "codec_test_support.h"

namespace {

using zeph::Message;

Message compressedMessage(const std::string& plain) {
    Message message("c", "s");
    message.setBody(plain);
    EXPECT_EQ(message.compress(), 0);
    return message;
}

// The CRC covers the bytes on the wire: the compressed ones.
TEST(Compression, RoundTripAtLevel9WithTheHeadersOfEachForm) {
    std::mt19937 rng(5);
    const std::vector<std::string> bodies = {"", std::string("z\0\r\n", 4),
                                             codectest::randomBytes(rng, 65536),
                                             codectest::xmlLikeBody(1536 * 1024)};
    for (const auto& plain : bodies) {
        Message message = compressedMessage(plain);
        EXPECT_EQ(message.body().substr(0, 2), "\x78\xDA");  // zlib header of level 9
        EXPECT_EQ(message.header("content-type"), "z-compressed");
        EXPECT_EQ(message.header("content-size"), std::to_string(message.bodySize()));
        EXPECT_EQ(message.header("content-uncompressed-size"), std::to_string(plain.size()));
        EXPECT_NE(message.headers().find(
                      "\r\nedc-word:" +
                      std::to_string(zeph::crc16_ccitt(message.body().data(),
                                                       static_cast<int>(message.bodySize()))) +
                      "\r\n"),
                  std::string::npos);

        ASSERT_EQ(message.uncompress(), 0);
        EXPECT_TRUE(message.body() == plain) << "body of " << plain.size() << " bytes differs";
        EXPECT_EQ(message.header("content-type"), "octet-stream");
        EXPECT_EQ(message.header("content-size"), std::to_string(plain.size()));
        EXPECT_FALSE(message.isCompressed());
    }
}

TEST(Compression, EachDirectionOnlyFromItsOwnForm) {
    Message bodiless;
    EXPECT_EQ(bodiless.compress(), -100);
    EXPECT_EQ(bodiless.uncompress(), -100);
    EXPECT_TRUE(bodiless == Message());

    Message once = compressedMessage("twice?");
    const Message before = once;
    EXPECT_EQ(once.compress(), -100);
    EXPECT_TRUE(once == before);

    // A body set on a compressed message is plain, though the old size
    // entry still marks it as compressed.
    once.setBody("new");
    EXPECT_EQ(once.uncompress(), -100);
    EXPECT_EQ(once.body(), "new");
}

// Failed decompressions leave the message exactly as it was.
TEST(Compression, AnnouncedSizeOutOfRangeWrongOrCorruptFailsWithoutChange) {
    const std::string plain = codectest::xmlLikeBody(5000);
    const struct {
        const char* announced;  // null: no entry, read as 0
        int expected;
    } cases[] = {
        {"-1", Z_MEM_ERROR},     {"20971520", Z_MEM_ERROR}, {"4294967295", Z_MEM_ERROR},
        {"4999", Z_BUF_ERROR},   {"0", Z_DATA_ERROR},  // zlib's word for "no room at all"
        {nullptr, Z_DATA_ERROR},
    };
    for (const auto& c : cases) {
        Message message = compressedMessage(plain);
        if (c.announced != nullptr) {
            message.addHeader("content-uncompressed-size", c.announced);
        } else {
            message.removeHeader("content-uncompressed-size");
        }
        const Message before = message;
        EXPECT_EQ(message.uncompress(), c.expected) << (c.announced ? c.announced : "none");
        EXPECT_TRUE(message == before);
    }

    Message damaged = compressedMessage(plain);
    std::string bytes = damaged.body();
    bytes[0] = 0x11;  // not a zlib header
    damaged.setBody(bytes);
    damaged.addHeader("content-type", "z-compressed");
    const Message before = damaged;
    EXPECT_EQ(damaged.uncompress(), Z_DATA_ERROR);
    EXPECT_TRUE(damaged == before);

    Message largest = compressedMessage(std::string(20971519, 'q'));
    ASSERT_EQ(largest.uncompress(), 0);
    EXPECT_EQ(largest.bodySize(), 20971519u);
}

}  // namespace
