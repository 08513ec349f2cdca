// The incremental parser: any split of a stream reads the same messages, and
// each malformed header block fails where and how it must.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/Message.h"
#include "codec_test_support.h"

namespace {

using codectest::rawMessage;
using zeph::Message;

// Feeds `stream` in pieces of the given lengths, calling again on the rest
// of a piece after every result other than "in progress", as the serial
// link does. The messages completed, in order; every other result fails.
std::vector<Message> feed(const std::string& stream, const std::vector<std::size_t>& pieces) {
    Message receiver;
    std::vector<Message> messages;
    unsigned long consumed = 0;
    for (std::size_t length : pieces) {
        zeph::parseEach(receiver, stream.data() + consumed, length,
                        [&](Message::ParserState result) {
                            if (result != Message::PARSER_IN_PROGRESS) {
                                EXPECT_EQ(result, Message::PARSER_MESSAGE_READY);
                                messages.push_back(receiver);
                            }
                            return true;
                        });
        consumed += length;
    }
    return messages;
}

std::vector<std::size_t> randomPieces(std::mt19937& rng, std::size_t total, std::size_t maxPiece) {
    std::uniform_int_distribution<std::size_t> length(1, maxPiece);
    std::vector<std::size_t> pieces;
    for (std::size_t left = total; left > 0; left -= pieces.back()) {
        pieces.push_back(std::min(left, length(rng)));
    }
    return pieces;
}

// Header text without CR; names also without ":". Values may hold ":",
// blanks and bare LF, which the wire carries as they are.
std::string headerText(std::mt19937& rng, bool isName) {
    static const std::string alphabet = "abcXYZ019-_ .\t\n:|\x80\xff";
    std::string text = isName ? "x-" : "";
    for (int n = 1 + static_cast<int>(rng() % 12); n > 0; --n) {
        const char c = alphabet[rng() % alphabet.size()];
        text += (isName && c == ':') ? '=' : c;
    }
    return text;
}

// Bodies mix random bytes with the texts that frame messages, so the
// parser must not look inside a body; some are compressed.
Message randomMessage(std::mt19937& rng) {
    static const std::vector<std::string> framing = {"smx\r\n", "\r\n\r\n\r\n",
                                                     std::string(3, '\0'), "version:1.0\r\n", "s"};
    Message message(headerText(rng, false), headerText(rng, false));
    for (int extra = static_cast<int>(rng() % 4); extra > 0; --extra) {
        message.addHeader(headerText(rng, true), headerText(rng, false));
    }
    const std::size_t sizes[] = {0, 7, 30, 3000, 70000};
    std::string body;
    for (std::size_t target = sizes[rng() % 5]; body.size() < target;) {
        body += rng() % 3 ? codectest::randomBytes(rng, rng() % 40) : framing[rng() % 5];
    }
    message.setBody(body);
    if (rng() % 3 == 0) {
        EXPECT_EQ(message.compress(), 0);
    }
    return message;
}

// Streams of messages with noise before each (noise without "s", which could
// pair with the next "smx"), read whole, byte by byte and in random pieces.
TEST(Parser, AnySplitOfAStreamReadsTheSameMessages) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 150; ++round) {
        std::vector<Message> sent;
        std::string stream;
        for (int i = 1 + static_cast<int>(rng() % 3); i > 0; --i) {
            std::string noise = codectest::randomBytes(rng, rng() % 30);
            for (auto& c : noise) {
                c = c == 's' ? 'S' : c;
            }
            sent.push_back(randomMessage(rng));
            stream += noise + sent.back().toString();
        }
        const std::vector<std::vector<std::size_t>> splits = {
            {stream.size()},
            randomPieces(rng, stream.size(), 7),
            randomPieces(rng, stream.size(), 9000),
            round % 10 ? std::vector<std::size_t>{stream.size()}
                       : std::vector<std::size_t>(stream.size(), 1)};
        for (const auto& pieces : splits) {
            const std::vector<Message> read = feed(stream, pieces);
            ASSERT_EQ(read.size(), sent.size()) << "round " << round;
            for (std::size_t i = 0; i < sent.size(); ++i) {
                // What was read carries the edc entries the writer added.
                EXPECT_EQ(read[i].toString(), sent[i].toString())
                    << "round " << round << " message " << i;
            }
        }
    }
}

std::string block(const std::string& size, const std::string& edc, const std::string& body = "") {
    return rawMessage(
        {"code:c", "content-size:" + size, "edc-word:" + edc, "source:s", "version:1.0"}, body);
}

// The bodiless block with one text replaced.
std::string edited(const std::string& from, const std::string& to) {
    std::string text = block("0", "0");
    return text.replace(text.find(from), from.size(), to);
}

// A header block of exactly `total` bytes from "s" to the final LF.
std::string headerOfLength(std::size_t total) {
    return edited("smx\r\n",
                  "smx\r\npad:" + std::string(total - block("0", "0").size() - 6, 'p') + "\r\n");
}

// One call on a receiver that holds an earlier message: the result, the bytes
// left, and whether a failed block left that message alone.
TEST(Parser, HeaderBlocksFailOrPassWhereTheyMust) {
    Message before("p", "1");
    before.setBody("kept");
    const std::string previous = before.toString();
    const auto R = Message::PARSER_MESSAGE_READY;
    const auto S = Message::PARSER_SYNTAX_ERROR;
    const auto C = Message::PARSER_CHECKSUM_ERROR;
    const struct {
        std::string stream;
        Message::ParserState result;
        std::size_t left;
    } cases[] = {
        {headerOfLength(4097), R, 0},
        {headerOfLength(4098), S, 1},              // taken up to and including the final CR
        {"smx\r\nversion:1.0\rcode:c\r\n", S, 7},  // CR without LF fails at the next byte
        {"smx\rjunk" + block("3", "40406", "abc"), R, 0},
        // The second "s" breaks the match at "m": the message it starts is lost.
        {"s" + block("3", "40406", "abc") + block("0", "0"), R, 0},
        {block("0", "12345", "trailing"), R, 8},  // no body, no CRC check
        {block("3", "40407", "abc"), C, 0},
        // Numbers read like strtol: blanks and a sign, digits up to a non-digit.
        {block(" +3", "40406;", "abc"), R, 0},
        {block("3 bytes", " +40406", "abc"), R, 0},
        {block("3", "none", "abc"), C, 0},
        {block("3", "105942", "abc"), C, 0},  // 40406 + 65536
        // A size that is no size never becomes an endless body nor an empty
        // one (4294967296 would narrow to 0).
        {block("-1", "0", "abc"), S, 3},
        {block("2147483648", "0", "abc"), S, 3},
        {block("4294967296", "0", "abc"), S, 3},
        {block("abc", "0", "abc"), S, 3},
        // Rejected once complete, never at the offending line.
        {edited("version:1.0\r\n", ""), S, 0},
        {edited("version:1.0", "version:1.0 "), S, 0},
        {edited("content-size:0\r\n", ""), S, 0},
        {edited("code:c\r\n", ""), S, 0},
        {edited("source:s\r\n", ""), S, 0},
        {edited("edc-word:0\r\n", ""), S, 0},
        {edited("code:c", "code:"), S, 0},
        {edited("smx\r\n", "smx\r\nno colon\r\n"), S, 0},
        {edited("smx\r\n", "smx\r\n:x\r\n"), S, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stream);
        Message receiver;
        ASSERT_EQ(receiver.parse(previous.data(), previous.size(), nullptr), R);
        unsigned long consumed = 0;
        EXPECT_EQ(receiver.parse(c.stream.data(), c.stream.size(), &consumed), c.result);
        EXPECT_EQ(consumed, c.stream.size() - c.left);
        EXPECT_EQ(receiver.code(), c.result == S ? "p" : "c");
        if (c.result == S) {
            EXPECT_EQ(receiver.body(), "kept");
        }
    }
}

// A checksum error still hands over the message as read, and the receiver
// goes on with the next one; null data or no data change nothing.
TEST(Parser, AfterAChecksumErrorOrNoData) {
    Message good("next", "2");
    good.setBody("fine");
    const std::string wire = good.toString();
    const std::string stream = block("3", "40407", "abc") + wire;
    Message receiver;
    unsigned long consumed = 0;
    ASSERT_EQ(receiver.parse(stream.data(), stream.size(), &consumed),
              Message::PARSER_CHECKSUM_ERROR);
    EXPECT_EQ(receiver.body(), "abc");
    ASSERT_EQ(receiver.parse(wire.data(), 10, nullptr), Message::PARSER_IN_PROGRESS);
    EXPECT_EQ(receiver.parse(nullptr, 5, nullptr), Message::PARSER_SYNTAX_ERROR);
    EXPECT_EQ(receiver.parse(wire.data(), 0, nullptr), Message::PARSER_IN_PROGRESS);
    ASSERT_EQ(receiver.parse(wire.data() + 10, wire.size() - 10, nullptr),
              Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(receiver.toString(), wire);
}

}  // namespace
