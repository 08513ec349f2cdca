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

std::string zlibLevel9(const std::string& plain) {
    uLongf length = compressBound(plain.size());
    std::string packed(length, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(&packed[0]), &length,
                        reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 9),
              Z_OK);
    packed.resize(length);
    return packed;
}

Message compressedMessage(const std::string& plain) {
    Message message("c", "s");
    message.setBody(plain);
    EXPECT_EQ(message.compress(), 0);
    return message;
}

TEST(Compression, RoundTripOfEmptySmallIncompressibleAndLargeBodies) {
    std::mt19937 rng(5);
    const std::vector<std::string> bodies = {"", "000007|ConsultarSAT", std::string("z\0\r\n", 4),
                                             codectest::randomBytes(rng, 65536),
                                             codectest::xmlLikeBody(1536 * 1024)};
    for (const auto& plain : bodies) {
        Message message("c", "s");
        message.setBody(plain);
        ASSERT_EQ(message.compress(), 0);
        EXPECT_EQ(message.body(), zlibLevel9(plain));
        EXPECT_EQ(message.header("content-type"), "z-compressed");
        EXPECT_EQ(message.header("content-size"),
                  zeph::to_string(static_cast<int>(message.bodySize())));
        EXPECT_EQ(message.header("content-uncompressed-size"),
                  zeph::to_string(static_cast<int>(plain.size())));
        EXPECT_TRUE(message.isCompressed());

        ASSERT_EQ(message.uncompress(), 0);
        EXPECT_TRUE(message.body() == plain) << "body of " << plain.size() << " bytes differs";
        EXPECT_EQ(message.header("content-type"), "octet-stream");
        EXPECT_EQ(message.header("content-size"), zeph::to_string(static_cast<int>(plain.size())));
        EXPECT_FALSE(message.hasHeader("content-uncompressed-size"));
        EXPECT_FALSE(message.isCompressed());
    }
    EXPECT_EQ(compressedMessage("").body(), std::string("\x78\xDA\x03\x00\x00\x00\x00\x01", 8));
}

TEST(Compression, EachDirectionOnlyFromItsOwnForm) {
    Message bodiless;
    EXPECT_EQ(bodiless.compress(), -100);
    EXPECT_TRUE(bodiless == Message());  // no header added
    EXPECT_EQ(bodiless.uncompress(), -100);

    Message once = compressedMessage("twice?");
    const Message before = once;
    EXPECT_EQ(once.compress(), -100);
    EXPECT_TRUE(once == before);

    Message plain("c", "s");
    plain.setBody("plain");
    EXPECT_EQ(plain.uncompress(), -100);

    // A body set on a compressed message is plain, but the old size entry
    // still marks it as compressed.
    Message reset = compressedMessage("abc");
    reset.setBody("new");
    EXPECT_TRUE(reset.isCompressed());
    EXPECT_EQ(reset.header("content-type"), "octet-stream");
    EXPECT_EQ(reset.uncompress(), -100);
    EXPECT_EQ(reset.body(), "new");
}

// Failed decompressions leave the message exactly as it was.
TEST(Compression, AnnouncedSizeOutOfRangeOrWrongFailsWithoutChange) {
    const std::string plain = codectest::xmlLikeBody(5000);
    struct Case {
        std::string announced;
        int expected;
    };
    const std::vector<Case> cases = {
        {"-1", Z_MEM_ERROR},   {"20971520", Z_MEM_ERROR}, {"4294967295", Z_MEM_ERROR},
        {"4999", Z_BUF_ERROR}, {"0", Z_DATA_ERROR},  // zlib's word for "no room at all"
    };
    for (const auto& c : cases) {
        Message message = compressedMessage(plain);
        message.addHeader("content-uncompressed-size", c.announced);
        const Message before = message;
        EXPECT_EQ(message.uncompress(), c.expected) << c.announced;
        EXPECT_TRUE(message == before) << c.announced;
    }

    Message absent = compressedMessage(plain);
    absent.removeHeader("content-uncompressed-size");
    EXPECT_EQ(absent.uncompress(), Z_DATA_ERROR);  // counts as 0

    Message corrupt = compressedMessage(plain);
    std::string bytes = corrupt.body();
    bytes[0] = 0x11;  // not a zlib header
    Message damaged("c", "s");
    damaged.setBody(bytes);
    damaged.addHeader("content-type", "z-compressed");
    damaged.addHeader("content-uncompressed-size", "5000");
    const Message before = damaged;
    EXPECT_EQ(damaged.uncompress(), Z_DATA_ERROR);
    EXPECT_TRUE(damaged == before);
}

TEST(Compression, LargestAnnouncedSizeIsAccepted) {
    const std::string plain(20971519, 'q');
    Message message = compressedMessage(plain);
    EXPECT_EQ(message.header("content-uncompressed-size"), "20971519");
    ASSERT_EQ(message.uncompress(), 0);
    EXPECT_EQ(message.bodySize(), 20971519u);
    EXPECT_TRUE(message.body() == plain);
}

// The CRC covers the bytes on the wire, so a compressed message is checked
// and read back before it is decompressed.
TEST(Compression, CompressedMessageIsParsedBeforeDecompression) {
    const std::string plain = codectest::xmlLikeBody(20000);
    Message sent("EnviarDadosVenda", "3");
    sent.addHeader("drs-version", "01.00.01.001");
    sent.setBody(plain);
    ASSERT_EQ(sent.compress(), 0);
    const std::string wire = sent.toString();
    EXPECT_EQ(sent.header("edc-word"), zeph::to_string(zeph::crc16_ccitt(
                                           sent.body().data(), static_cast<int>(sent.bodySize()))));

    Message received;
    unsigned long consumed = 0;
    ASSERT_EQ(received.parse(wire.data(), wire.size(), &consumed), Message::PARSER_MESSAGE_READY);
    EXPECT_TRUE(received == sent);
    ASSERT_TRUE(received.isCompressed());
    ASSERT_EQ(received.uncompress(), 0);
    EXPECT_EQ(received.body(), plain);
    EXPECT_EQ(received.header("edc-word"), sent.header("edc-word"));  // still the received one
}

}  // namespace
