#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/Message.h"
#include "codec/zeph.h"
#include "codec_test_support.h"

namespace {

using codectest::CRLF;
using codectest::rawMessage;
using zeph::Message;

// What a receiver reported while being fed a byte stream.
struct Outcome {
    std::vector<Message::ParserState> results;  // every result other than 0
    std::vector<Message> messages;              // the message at each result 1 or 3
    unsigned long consumed = 0;                 // bytes the parser said it took
};

// Feeds `stream` in pieces of the given lengths, calling again on the rest
// of a piece after every result other than "in progress", as the serial
// link does.
Outcome feed(Message& receiver, const std::string& stream, const std::vector<std::size_t>& pieces) {
    Outcome outcome;
    std::size_t start = 0;
    for (std::size_t length : pieces) {
        const char* piece = stream.data() + start;
        unsigned long used = 0;
        while (used < length) {
            const auto result = receiver.parse(piece + used, length - used, &used);
            if (result == Message::PARSER_IN_PROGRESS) {
                EXPECT_EQ(used, length);
                break;
            }
            outcome.results.push_back(result);
            if (result != Message::PARSER_SYNTAX_ERROR) {
                outcome.messages.push_back(receiver);
            }
        }
        outcome.consumed += used;
        start += length;
    }
    return outcome;
}

std::vector<std::size_t> whole(const std::string& stream) {
    return {stream.size()};
}

std::vector<std::size_t> bytewise(const std::string& stream) {
    return std::vector<std::size_t>(stream.size(), 1);
}

std::vector<std::size_t> randomPieces(std::mt19937& rng, std::size_t total, std::size_t maxPiece) {
    std::uniform_int_distribution<std::size_t> length(1, maxPiece);
    std::vector<std::size_t> pieces;
    for (std::size_t left = total; left > 0;) {
        pieces.push_back(std::min(left, length(rng)));
        left -= pieces.back();
    }
    return pieces;
}

// Header text without CR; names also without ":". Values may hold ":",
// blanks and bare LF, which the wire carries as they are.
std::string headerText(std::mt19937& rng, bool isName) {
    static const std::string alphabet = "abcXYZ019-_ .\t\n:|\x80\xff";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(1, 12);
    std::string text = isName ? "x-" : "";
    for (int n = length(rng); n > 0; --n) {
        const char c = alphabet[pick(rng)];
        text += (isName && c == ':') ? '=' : c;
    }
    return text;
}

// Bodies mix random bytes with the texts that frame messages, so the
// parser must not look inside a body.
std::string randomBody(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {"smx\r\n", "\r\n\r\n\r\n", std::string(3, '\0'),
                                                    "version:1.0\r\n", "s"};
    std::uniform_int_distribution<int> sizeClass(0, 9);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    const int cls = sizeClass(rng);
    const std::size_t target = cls == 0 ? 0 : cls < 6 ? cls * 7 : cls < 9 ? 3000 : 70000;
    std::string body;
    while (body.size() < target) {
        body += (rng() % 3 == 0) ? pieces[pick(rng)] : codectest::randomBytes(rng, rng() % 40);
    }
    return body;
}

Message randomMessage(std::mt19937& rng) {
    Message message(headerText(rng, false), headerText(rng, false));
    for (int extra = static_cast<int>(rng() % 4); extra > 0; --extra) {
        message.addHeader(headerText(rng, true), headerText(rng, false));
    }
    message.setBody(randomBody(rng));
    if (rng() % 3 == 0) {
        EXPECT_EQ(message.compress(), 0);
    }
    return message;
}

TEST(Parser, WholeBytewiseAndRandomSplitsReadTheSameMessage) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 300; ++round) {
        const Message sent = randomMessage(rng);
        const std::string wire = sent.toString();  // also adds the edc entries to `sent`
        const std::vector<std::vector<std::size_t>> splits = {
            whole(wire), randomPieces(rng, wire.size(), 64), randomPieces(rng, wire.size(), 9000),
            round % 10 == 0 ? bytewise(wire) : whole(wire)};
        for (const auto& pieces : splits) {
            Message receiver;
            const Outcome outcome = feed(receiver, wire, pieces);
            ASSERT_EQ(outcome.results,
                      std::vector<Message::ParserState>{Message::PARSER_MESSAGE_READY})
                << "round " << round;
            EXPECT_EQ(outcome.consumed, wire.size());
            EXPECT_TRUE(outcome.messages[0] == sent) << "round " << round;
            EXPECT_EQ(outcome.messages[0].code(), sent.code());
        }
    }
}

// Many messages on one stream with noise between them (noise without "s",
// which could pair with the next "smx"), fed by one receiver in random
// chunks: every message comes out, in order, and nothing else.
TEST(Parser, StreamOfMessagesAndNoiseInRandomChunks) {
    std::mt19937 rng(99);
    std::vector<Message> sent;
    std::string stream;
    for (int i = 0; i < 200; ++i) {
        std::string noise = codectest::randomBytes(rng, rng() % 30);
        for (auto& c : noise) {
            c = c == 's' ? 'S' : c;
        }
        stream += noise;
        sent.push_back(randomMessage(rng));
        stream += sent.back().toString();
    }
    for (std::size_t maxPiece : {7u, 700u, 8192u}) {
        Message receiver;
        const Outcome outcome = feed(receiver, stream, randomPieces(rng, stream.size(), maxPiece));
        ASSERT_EQ(outcome.messages.size(), sent.size());
        EXPECT_EQ(outcome.results,
                  std::vector<Message::ParserState>(sent.size(), Message::PARSER_MESSAGE_READY));
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_TRUE(outcome.messages[i] == sent[i]) << "message " << i;
        }
        EXPECT_EQ(outcome.consumed, stream.size());
    }
}

TEST(Parser, OneBytePerCallIsReadyExactlyAtTheLastByte) {
    Message sent("EnviarDadosVenda", "3");
    sent.setBody(std::string("a\r\n\0b", 5));
    const std::string wire = sent.toString();
    Message receiver;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        unsigned long consumed = 0;
        const auto expected =
            i + 1 == wire.size() ? Message::PARSER_MESSAGE_READY : Message::PARSER_IN_PROGRESS;
        ASSERT_EQ(receiver.parse(&wire[i], 1, &consumed), expected) << "byte " << i;
        ASSERT_EQ(consumed, 1u);
    }
    EXPECT_TRUE(receiver == sent);
    EXPECT_EQ(receiver.sourceId(), "3");
}

TEST(Parser, BackToBackMessagesEndExactlyWhereEachEnds) {
    Message first("one", "1");
    first.setBody("first body");
    Message second("two", "2");
    second.setBody("");
    const std::string a = first.toString();
    const std::string stream = a + second.toString();

    Message receiver;
    unsigned long consumed = 0;
    ASSERT_EQ(receiver.parse(stream.data(), stream.size(), &consumed),
              Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(consumed, a.size());
    EXPECT_TRUE(receiver == first);
    ASSERT_EQ(receiver.parse(stream.data() + consumed, stream.size() - consumed, &consumed),
              Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(consumed, stream.size());
    EXPECT_TRUE(receiver == second);
    EXPECT_EQ(receiver.body(), "");  // the first body does not linger
}

TEST(Parser, NoiseIsSkippedCountedAndReported) {
    Message receiver;
    unsigned long consumed = 0;
    const std::string noise("ab\0q", 4);
    ASSERT_EQ(receiver.parse(noise.data(), noise.size(), &consumed), Message::PARSER_IN_PROGRESS);
    std::string text;
    int state = -1;
    receiver.lastParsingState(text, state);
    EXPECT_EQ(text, "q");
    EXPECT_EQ(state, 1);

    ASSERT_EQ(receiver.parse("smq", 3, &consumed), Message::PARSER_IN_PROGRESS);
    receiver.lastParsingState(text, state);
    EXPECT_EQ(text, "smq");
    EXPECT_EQ(state, 3);
    EXPECT_EQ(consumed, 7u);

    Message sent("c", "s");
    sent.setBody("xyz");
    const std::string stream = "smx\rjunk" + sent.toString();
    consumed = 0;
    ASSERT_EQ(receiver.parse(stream.data(), stream.size(), &consumed),
              Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(consumed, stream.size());
    EXPECT_TRUE(receiver == sent);
    receiver.lastParsingState(text, state);
    EXPECT_EQ(text, sent.headers());
    EXPECT_EQ(state, 8);
}

// The second "s" breaks the match at "m" and is consumed with it, so the
// message it starts is lost; the scanner finds the next "smx" line.
TEST(Parser, DoubledSHidesTheMessageItStarts) {
    Message lost("lost", "1");
    lost.setBody("abc");
    Message found("found", "2");
    found.setBody("def");
    const std::string stream = "s" + lost.toString() + found.toString();
    Message receiver;
    const Outcome outcome = feed(receiver, stream, whole(stream));
    ASSERT_EQ(outcome.results, std::vector<Message::ParserState>{Message::PARSER_MESSAGE_READY});
    EXPECT_TRUE(outcome.messages[0] == found);
}

std::vector<std::string> minimalLines() {
    return {"code:c", "content-size:0", "edc-word:0", "source:s", "version:1.0"};
}

// A header block of exactly `total` bytes from "s" to the final LF.
std::string headerOfLength(std::size_t total) {
    std::vector<std::string> lines = minimalLines();
    const std::size_t bare =
        rawMessage(lines).size() + CRLF.size() + 4;  // with "pad:" and its CR LF
    lines.push_back("pad:" + std::string(total - bare, 'p'));
    return rawMessage(lines);
}

TEST(Parser, HeaderBlockMayHold4097Bytes) {
    const std::string fits = headerOfLength(4097);
    ASSERT_EQ(fits.size(), 4097u);
    Message receiver;
    unsigned long consumed = 0;
    EXPECT_EQ(receiver.parse(fits.data(), fits.size(), &consumed), Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(consumed, 4097u);

    const std::string tooLong = headerOfLength(4098);
    consumed = 0;
    EXPECT_EQ(receiver.parse(tooLong.data(), tooLong.size(), &consumed),
              Message::PARSER_SYNTAX_ERROR);
    EXPECT_EQ(consumed, 4097u);  // up to and including the final CR
    std::string text;
    int state = 0;
    receiver.lastParsingState(text, state);
    EXPECT_EQ(state, 6);
    EXPECT_EQ(text, tooLong.substr(0, 4097));
}

TEST(Parser, CrWithoutLfFailsAtTheNextByte) {
    const std::string stream = "smx\r\nversion:1.0\rcode:c\r\n";
    Message receiver;
    unsigned long consumed = 0;
    EXPECT_EQ(receiver.parse(stream.data(), stream.size(), &consumed),
              Message::PARSER_SYNTAX_ERROR);
    EXPECT_EQ(consumed, 18u);
    std::string text;
    int state = 0;
    receiver.lastParsingState(text, state);
    EXPECT_EQ(state, 7);
    EXPECT_EQ(text, "smx\r\nversion:1.0\rc");
}

// Each block is rejected only once it is complete (at its third CR LF in a
// row), never at the offending line.
TEST(Parser, InvalidHeaderBlocksFailWhenTheBlockCompletes) {
    const std::vector<std::vector<std::string>> blocks = {
        {"code:c", "content-size:0", "edc-word:0", "source:s"},  // no version
        {"code:c", "content-size:0", "edc-word:0", "source:s", "version:1.1"},
        {"code:c", "content-size:0", "edc-word:0", "source:s", "version:1.0 "},
        {"code:c", "edc-word:0", "source:s", "version:1.0"},          // no content-size
        {"content-size:0", "edc-word:0", "source:s", "version:1.0"},  // no code
        {"code:c", "content-size:0", "edc-word:0", "version:1.0"},    // no source
        {"code:c", "content-size:0", "source:s", "version:1.0"},      // no edc-word
        {"code:c", "content-size:0", "edc-word:0", "source:s", "version:1.0", "no colon", "x:y"},
        {"code:", "content-size:0", "edc-word:0", "source:s", "version:1.0"},
        {":x", "code:c", "content-size:0", "edc-word:0", "source:s", "version:1.0"},
        {" code:x", "content-size:0", "edc-word:0", "source:s", "version:1.0"},
    };
    for (const auto& lines : blocks) {
        const std::string block = rawMessage(lines);
        Message receiver;
        unsigned long consumed = 0;
        EXPECT_EQ(receiver.parse(block.data(), block.size(), &consumed),
                  Message::PARSER_SYNTAX_ERROR)
            << block;
        EXPECT_EQ(consumed, block.size()) << block;
        std::string text;
        int state = 0;
        receiver.lastParsingState(text, state);
        EXPECT_EQ(state, 7);
        EXPECT_EQ(text, block);
    }
}

TEST(Parser, HeaderValuesAreTakenVerbatim) {
    const std::string block = rawMessage({"code:first", "content-size:0", "edc-word:0", "source:s",
                                          "version:1.0", "code:second", "x: a:b\n\t"});
    Message receiver;
    ASSERT_EQ(receiver.parse(block.data(), block.size(), nullptr), Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(receiver.code(), "second");
    EXPECT_EQ(receiver.header("x"), " a:b\n\t");
}

// With only one empty line after the headers the block is not complete:
// what follows is still taken as header bytes.
TEST(Parser, OneEmptyLineDoesNotEndTheHeader) {
    const std::string stream =
        "smx\r\ncode:c\r\ncontent-size:3\r\nedc-word:40406\r\nsource:s\r\nversion:1.0\r\n\r\nabc";
    Message receiver;
    unsigned long consumed = 0;
    EXPECT_EQ(receiver.parse(stream.data(), stream.size(), &consumed), Message::PARSER_IN_PROGRESS);
    EXPECT_EQ(consumed, stream.size());
    EXPECT_EQ(receiver.parse("\r\n\r\n\r\n", 6, nullptr), Message::PARSER_IN_PROGRESS);
    EXPECT_EQ(receiver.parse("abc", 3, nullptr), Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(receiver.body(), "abc");
}

TEST(Parser, ZeroContentSizeCompletesAtTheHeaderWithoutCrcCheck) {
    Message receiver;
    Message previous("p", "1");
    previous.setBody("old body");
    const std::string first = previous.toString();
    ASSERT_EQ(receiver.parse(first.data(), first.size(), nullptr), Message::PARSER_MESSAGE_READY);

    const std::string block = rawMessage(
        {"code:c", "content-size:0", "edc-word:12345", "source:s", "version:1.0"}, "trailing");
    unsigned long consumed = 0;
    EXPECT_EQ(receiver.parse(block.data(), block.size(), &consumed), Message::PARSER_MESSAGE_READY);
    EXPECT_EQ(consumed, block.size() - 8);
    EXPECT_EQ(receiver.body(), "");
    EXPECT_EQ(receiver.code(), "c");
    std::string text;
    int state = 0;
    receiver.lastParsingState(text, state);
    EXPECT_EQ(state, 9);
}

TEST(Parser, ChecksumErrorLeavesTheMessageReadable) {
    const std::string bad = rawMessage(
        {"code:c", "content-size:3", "edc-word:40407", "source:s", "version:1.0", "extra:1"},
        "abc");
    Message good("next", "2");
    good.setBody("fine");
    const std::string stream = bad + good.toString();
    Message receiver;
    unsigned long consumed = 0;
    ASSERT_EQ(receiver.parse(stream.data(), stream.size(), &consumed),
              Message::PARSER_CHECKSUM_ERROR);
    EXPECT_EQ(consumed, bad.size());
    EXPECT_EQ(receiver.code(), "c");
    EXPECT_EQ(receiver.body(), "abc");
    EXPECT_EQ(receiver.header("extra"), "1");
    std::string text;
    int state = 0;
    receiver.lastParsingState(text, state);
    EXPECT_EQ(state, 8);

    ASSERT_EQ(receiver.parse(stream.data() + consumed, stream.size() - consumed, &consumed),
              Message::PARSER_MESSAGE_READY);
    EXPECT_TRUE(receiver == good);
}

// "edc-word" and "content-size" are read like strtol: leading blanks and a
// sign, digits up to the first non-digit.
TEST(Parser, NumbersInHeadersReadLikeStrtol) {
    struct Case {
        std::string size, edc;
        Message::ParserState expected;
    };
    const std::vector<Case> cases = {
        {"3", " 40406", Message::PARSER_MESSAGE_READY},
        {" +3", "40406;", Message::PARSER_MESSAGE_READY},
        {"3 bytes", "+40406", Message::PARSER_MESSAGE_READY},
        {"3", "none", Message::PARSER_CHECKSUM_ERROR},    // no digits: 0
        {"3", "105942", Message::PARSER_CHECKSUM_ERROR},  // 40406 + 65536 is not 40406
    };
    for (const auto& c : cases) {
        const std::string stream = rawMessage(
            {"code:c", "content-size:" + c.size, "edc-word:" + c.edc, "source:s", "version:1.0"},
            "abc");
        Message receiver;
        unsigned long consumed = 0;
        EXPECT_EQ(receiver.parse(stream.data(), stream.size(), &consumed), c.expected) << stream;
        EXPECT_EQ(consumed, stream.size());
    }
}

// A negative size, one beyond 32 bits, or text without digits is refused
// with the header block; it never becomes an endless body nor an empty one
// (4294967296 would narrow to 0), and the previous message stays as it was.
TEST(Parser, ContentSizeThatIsNoSizeIsASyntaxError) {
    Message previous("p", "1");
    previous.setBody("kept");
    const std::string first = previous.toString();
    for (const std::string size :
         {"-1", "-2147483648", "4294967295", "2147483648", "4294967296", "abc"}) {
        Message receiver;
        ASSERT_EQ(receiver.parse(first.data(), first.size(), nullptr),
                  Message::PARSER_MESSAGE_READY);
        const std::string block = rawMessage(
            {"code:c", "content-size:" + size, "edc-word:0", "source:s", "version:1.0"}, "abc");
        unsigned long consumed = 0;
        EXPECT_EQ(receiver.parse(block.data(), block.size(), &consumed),
                  Message::PARSER_SYNTAX_ERROR)
            << size;
        EXPECT_EQ(consumed, block.size() - 3);
        EXPECT_EQ(receiver.code(), "p");
        EXPECT_EQ(receiver.body(), "kept");
        EXPECT_EQ(receiver.parse(first.data(), first.size(), nullptr),
                  Message::PARSER_MESSAGE_READY);
    }
}

TEST(Parser, NullDataAndEmptyInputChangeNothing) {
    Message sent("c", "s");
    sent.setBody("abc");
    const std::string wire = sent.toString();
    Message receiver;
    unsigned long consumed = 0;
    ASSERT_EQ(receiver.parse(wire.data(), 10, &consumed), Message::PARSER_IN_PROGRESS);
    EXPECT_EQ(receiver.parse(nullptr, 5, &consumed), Message::PARSER_SYNTAX_ERROR);
    EXPECT_EQ(receiver.parse(wire.data() + 10, 0, &consumed), Message::PARSER_IN_PROGRESS);
    EXPECT_EQ(consumed, 10u);
    EXPECT_EQ(receiver.parse(wire.data() + 10, wire.size() - 10, nullptr),
              Message::PARSER_MESSAGE_READY);
    EXPECT_TRUE(receiver == sent);
}

TEST(Parser, StateNames) {
    EXPECT_EQ(Message::parserStateName(Message::PARSER_IN_PROGRESS), "In progress");
    EXPECT_EQ(Message::parserStateName(Message::PARSER_MESSAGE_READY), "Message ready");
    EXPECT_EQ(Message::parserStateName(Message::PARSER_SYNTAX_ERROR), "Syntax error");
    EXPECT_EQ(Message::parserStateName(Message::PARSER_CHECKSUM_ERROR), "Checksum error");
    EXPECT_EQ(Message::parserStateName(static_cast<Message::ParserState>(7)), "Unknown");
}

}  // namespace
