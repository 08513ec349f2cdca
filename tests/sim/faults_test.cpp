// The device misbehaving on purpose, as switched on through DIR/faults, and
// the journal of what reached it.
#include "SimTest.h"

#include <chrono>

#include "SimDevice.h"

namespace {

using Clock = std::chrono::steady_clock;
using zeph::Message;

class SimFaults : public SimTest {
protected:
    void faults(const std::string& lines) { ASSERT_TRUE(device.setFaults(lines)); }

    DeviceClient::Reply ask(const std::string& code = "ConsultarSAT",
                            const std::string& body = "000001") {
        EXPECT_TRUE(client.send(code, body));
        return client.receive();
    }

    static long msSince(Clock::time_point start) {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }

    SimDevice device;
};

TEST_F(SimFaults, PacingHoldsTheReplyBackButKeepsItIntact) {
    const struct {
        const char* fault;
        long atLeastMs;
    } pacings[] = {{"delay 300", 300}, {"pieces 4 100", 300}, {"dribble 1", 150}};
    for (const auto& pacing : pacings) {
        SCOPED_TRACE(pacing.fault);
        faults(std::string("next ") + pacing.fault);
        auto start = Clock::now();
        DeviceClient::Reply reply = ask();
        EXPECT_GE(msSince(start), pacing.atLeastMs);
        ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
        EXPECT_EQ("000001|08000|SAT em Operação||", plainBody(reply.message));
    }
}

TEST_F(SimFaults, NoiseComesBeforeTheMessageAndNeverStartsOne) {
    faults("next noise 37");
    DeviceClient::Reply reply = ask();
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ(37u, reply.bytes.find("smx\r\n"));
    EXPECT_EQ(std::string::npos, reply.bytes.substr(0, 37).find('s'));
}

TEST_F(SimFaults, TrailingNoiseFollowsTheMessage) {
    faults("next trailing 25");
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, ask().state);
    std::string after;
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         after.size() < 25 && Clock::now() < deadline;)
        after += client.receive(std::chrono::milliseconds(50)).bytes;
    EXPECT_EQ(25u, after.size());
}

TEST_F(SimFaults, StaleAndWrongCodeRepliesComeFirst) {
    faults("next stale ExtrairLogs\nnext wrongcode 2");
    ASSERT_TRUE(client.send("ConsultarSAT", "000001"));
    std::vector<std::string> codes;
    for (int i = 0; i < 4; ++i) {
        DeviceClient::Reply reply = client.receive();
        ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
        codes.push_back(reply.message.code());
    }
    EXPECT_EQ(
        (std::vector<std::string>{"ExtrairLogs", "ConsultarSATX", "ConsultarSA", "ConsultarSAT"}),
        codes);
}

TEST_F(SimFaults, DamagedRepliesFailToParse) {
    const struct {
        const char* fault;
        Message::ParserState state;
    } damages[] = {
        {"badcrc", Message::PARSER_CHECKSUM_ERROR},
        {"syntax", Message::PARSER_SYNTAX_ERROR},
        {"crnolf", Message::PARSER_SYNTAX_ERROR},
        {"headerbytes 4098", Message::PARSER_SYNTAX_ERROR},
        {"headerbytes 4097", Message::PARSER_MESSAGE_READY},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.fault);
        faults(std::string("next ") + damage.fault);
        EXPECT_EQ(damage.state, ask().state);
        ASSERT_EQ(Message::PARSER_MESSAGE_READY, ask().state) << "the next reply is sound again";
    }
}

TEST_F(SimFaults, HeaderBlockIsPaddedToTheSizeAsked) {
    faults("next headerbytes 4097");
    DeviceClient::Reply reply = ask();
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ(4097u, reply.bytes.find("\r\n\r\n\r\n") + 6);
}

TEST_F(SimFaults, ContentSizeIsAnnouncedAsTold) {
    faults("next contentsize 5");
    DeviceClient::Reply reply = ask();
    EXPECT_EQ("5", reply.message.header("content-size"));
    EXPECT_EQ(5u, reply.message.bodySize());
}

TEST_F(SimFaults, SilenceAnswersNothingYetRecordsTheRequest) {
    faults("next silence");
    ASSERT_TRUE(client.send("ConsultarSAT", "000001"));
    EXPECT_TRUE(client.receive(std::chrono::milliseconds(300)).bytes.empty());
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, ask("ConsultarSAT", "000002").state);
    EXPECT_EQ(2u, device.requestCount());
}

TEST_F(SimFaults, UnplugHangsUpMidReplyAndTheDeviceComesBackOnANewPty) {
    std::string before = device.slavePath();
    faults("next unplug 20");
    DeviceClient::Reply reply = ask();
    EXPECT_TRUE(reply.hungUp);
    EXPECT_EQ(20u, reply.bytes.size());
    EXPECT_EQ(Message::PARSER_IN_PROGRESS, reply.state);

    std::string after = device.slavePath();
    EXPECT_NE(before, after);
    char target[256] = {};
    ASSERT_GT(::readlink("/dev/ttyACM0", target, sizeof target - 1), 0);
    EXPECT_EQ(after, target);
    DeviceClient again;
    EXPECT_EQ("000002|08000|SAT em Operação||", again.call("ConsultarSAT", "000002"));
}

TEST_F(SimFaults, ReplyBodyCanBePlainReplacedOrPadded) {
    faults("ConsultarSAT plain\nnext body 1|2\\n3\\\\");
    DeviceClient::Reply replaced = ask();
    EXPECT_EQ("octet-stream", replaced.message.header("content-type"));
    EXPECT_FALSE(replaced.message.hasHeader("content-uncompressed-size"));
    EXPECT_EQ("1|2\n3\\", replaced.message.body());

    EXPECT_EQ("octet-stream", ask().message.header("content-type")) << "a command's faults stay";
    EXPECT_EQ("z-compressed", ask("ExtrairLogs", "000002|12345678").message.header("content-type"));

    faults("next bodysize 5000");
    std::string padded = plainBody(ask("ExtrairLogs", "000003|12345678").message);
    EXPECT_EQ(5000u, padded.size());
    EXPECT_EQ(0u, padded.find("000003|15000|"));
}

TEST_F(SimFaults, BombAnnouncesMoreThanAReaderMayUncompress) {
    faults("next bomb");
    DeviceClient::Reply reply = ask();
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_GT(std::stol(reply.message.header("content-uncompressed-size")), 20971519L);
    EXPECT_EQ(-4, Message(reply.message).uncompress());
}

TEST_F(SimFaults, DeltaHeadersCarryTheTimings) {
    faults("next delta 10 20 30 40 50 60");
    DeviceClient::Reply reply = ask();
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ("10", reply.message.header("DELTA_DRS"));
    EXPECT_EQ("20", reply.message.header("DELTA_DRS_CCO"));
    EXPECT_EQ("30", reply.message.header("DELTA_CCO"));
    EXPECT_EQ("40", reply.message.header("DELTA_CSE_COM"));
    EXPECT_EQ("50", reply.message.header("DELTA_CSE"));
    EXPECT_EQ("60", reply.message.header("DELTA_SWB"));
}

TEST_F(SimFaults, NextLinesAreUsedOnceAndOthersStay) {
    faults("* delta 1 1 1 1 1 1\nnext plain\nExtrairLogs silence");
    DeviceClient::Reply first = ask();
    EXPECT_EQ("octet-stream", first.message.header("content-type"));
    EXPECT_EQ("1", first.message.header("DELTA_SWB"));
    EXPECT_EQ("* delta 1 1 1 1 1 1\nExtrairLogs silence\n", device.faults());
    DeviceClient::Reply second = ask();
    EXPECT_EQ("z-compressed", second.message.header("content-type"));
    EXPECT_EQ("1", second.message.header("DELTA_SWB"));
}

TEST_F(SimFaults, JournalHoldsEachRequestAsItArrived) {
    std::string sale = "<CFe>" + std::string(300000, 'v') + "</CFe>";
    ASSERT_TRUE(client.send("EnviarDadosVenda", "000001|12345678|" + sale));
    ASSERT_TRUE(device.waitForRequests(1));
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, client.receive().state);

    zeph::Message sent("EnviarDadosVenda", "3");
    sent.addHeader("drs-version", "01.00.01.001");
    sent.setBody("000001|12345678|" + sale);
    sent.compress();
    SimRequest request = device.lastRequest();
    EXPECT_EQ("EnviarDadosVenda", request.code);
    EXPECT_EQ("000001|12345678|" + sale, request.body);
    EXPECT_EQ(sent.toString(), request.wire);
    EXPECT_FALSE(device.waitForRequests(2, std::chrono::milliseconds(50)));
}

}  // namespace
