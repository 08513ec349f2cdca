#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec/Message.h"
#include "codec/zeph.h"
#include "codec_test_support.h"

namespace {

using codectest::rawMessage;
using zeph::Message;

TEST(Wire, AbcMessageGoldenText) {
    Message message;
    message.setBody("abc");
    const std::string expected =
        rawMessage({"code:0", "content-size:3", "content-type:octet-stream", "edc-type:crc16-ccitt",
                    "edc-word:40406", "source:0", "version:1.0"},
                   "abc");
    EXPECT_EQ(message.toString(), expected);
    EXPECT_EQ(message.headers(), expected.substr(0, expected.size() - 3));
}

TEST(Wire, BodilessMessageHasNoContentLines) {
    const Message message;
    EXPECT_EQ(message.toString(), rawMessage({"code:0", "edc-type:crc16-ccitt", "edc-word:0",
                                              "source:0", "version:1.0"}));
}

// Names sort by unsigned bytes: upper case before lower case, "-" inside a
// name before letters, bytes above 0x7F last.
TEST(Wire, HeaderLinesInByteOrderOfNames) {
    Message message("ConsultarSAT", "3");
    message.setBody("000007");
    ASSERT_EQ(message.compress(), 0);
    message.addHeader("drs-version", "01.00.01.001");
    message.addHeader("Code", "upper");
    message.addHeader("\xE9t\xE9", "latin");
    const std::string text = message.headers();
    const char* order[] = {"\r\nCode:upper\r\n",
                           "\r\ncode:ConsultarSAT\r\n",
                           "\r\ncontent-size:",
                           "\r\ncontent-type:z-compressed\r\n",
                           "\r\ncontent-uncompressed-size:6\r\n",
                           "\r\ndrs-version:01.00.01.001\r\n",
                           "\r\nedc-type:crc16-ccitt\r\n",
                           "\r\nedc-word:",
                           "\r\nsource:3\r\n",
                           "\r\nversion:1.0\r\n",
                           "\r\n\xE9t\xE9:latin\r\n\r\n\r\n"};
    std::size_t previous = 0;
    for (const char* line : order) {
        const std::size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_GT(at, previous) << line;
        previous = at;
    }
}

TEST(Wire, SerialisingStoresEdcEntriesOnceAndIsRepeatable) {
    Message message("x", "1");
    message.setBody(std::string("a\0b\r\n", 5));
    EXPECT_FALSE(message.hasHeader("edc-word"));
    const std::string first = message.toString();
    EXPECT_EQ(message.header("edc-type"), "crc16-ccitt");
    EXPECT_EQ(message.header("edc-word"), zeph::to_string(zeph::crc16_ccitt("a\0b\r\n", 5)));
    EXPECT_EQ(message.toString(), first);

    Message copy("x", "1");
    copy.setBody(std::string("a\0b\r\n", 5));
    EXPECT_FALSE(copy == message);  // only the serialised one has the edc entries
    copy.toString();
    EXPECT_TRUE(copy == message);
}

TEST(Wire, BodyKeepsZeroBytes) {
    const std::string body("ab\0cd\0", 6);
    Message message;
    message.setBody(body.data(), static_cast<unsigned>(body.size()));
    EXPECT_EQ(message.bodySize(), 6u);
    EXPECT_EQ(message.header("content-size"), "6");
    EXPECT_EQ(std::strlen(message.bodyAsCString()), 2u);
    EXPECT_EQ(std::memcmp(message.bodyAsCString(), body.data(), 7), 0);  // terminating zero too
    const std::string text = message.toString();
    EXPECT_EQ(text.substr(text.size() - 6), body);

    message.setBody("");
    EXPECT_EQ(message.header("content-size"), "0");
    EXPECT_EQ(message.header("content-type"), "octet-stream");
    message.setBody(nullptr, 100);  // no bytes behind a null pointer
    EXPECT_EQ(message.bodySize(), 0u);
    EXPECT_EQ(message.header("content-size"), "0");
}

TEST(Wire, CodeAndSourceFieldsVersusHeaders) {
    Message message("A", "1");
    message.addHeader("code", "B");
    EXPECT_EQ(message.code(), "A");
    EXPECT_NE(message.toString().find("\r\ncode:B\r\n"), std::string::npos);
    message.setCode(-7);
    message.setSourceId(42);
    EXPECT_EQ(message.code(), "-7");
    EXPECT_EQ(message.header("code"), "-7");
    EXPECT_EQ(message.sourceId(), "42");
    EXPECT_EQ(message.header("source"), "42");

    message.removeHeader("code");
    message.removeHeader("absent");
    EXPECT_FALSE(message.hasHeader("code"));
    EXPECT_EQ(message.header("code"), "");
    EXPECT_FALSE(message.hasHeader("code"));  // asking added nothing
}

TEST(Wire, EqualityComparesRecordNotScanner) {
    Message a("c", "s");
    Message b("c", "s");
    unsigned long consumed = 0;
    EXPECT_EQ(b.parse("noise smx", 9, &consumed), Message::PARSER_IN_PROGRESS);
    EXPECT_TRUE(a == b);
    b.addHeader("extra", "1");
    EXPECT_FALSE(a == b);
    b.removeHeader("extra");
    b.setBody("x");
    EXPECT_FALSE(a == b);
}

TEST(Wire, CopiesAreDeepAndSelfAssignmentIsHarmless) {
    Message original("c", "s");
    original.setBody("body");
    Message copy(original);
    copy.setBody("other");
    copy.addHeader("extra", "1");
    EXPECT_EQ(original.body(), "body");
    EXPECT_FALSE(original.hasHeader("extra"));

    Message& same = original;
    original = same;
    EXPECT_EQ(original.body(), "body");
    EXPECT_EQ(original.code(), "c");

    copy = original;
    EXPECT_TRUE(copy == original);
}

// A copy keeps the scanner position but not the half-collected header
// text, so it cannot finish that header block.
TEST(Wire, CopyDoesNotTakeHalfCollectedHeader) {
    Message sent("c", "s");
    sent.setBody("payload");
    const std::string wire = sent.toString();
    const unsigned long half = 20;

    Message receiver;
    unsigned long consumed = 0;
    ASSERT_EQ(receiver.parse(wire.data(), half, &consumed), Message::PARSER_IN_PROGRESS);
    Message copy(receiver);
    const std::string rest = wire.substr(half);
    EXPECT_EQ(receiver.parse(rest.data(), rest.size(), nullptr), Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(copy.parse(rest.data(), rest.size(), nullptr), Message::PARSER_SYNTAX_ERROR);
    EXPECT_TRUE(receiver == sent);
}

}  // namespace
