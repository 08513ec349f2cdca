// Faults the library survives, so that its tests cannot show whether they
// were played at all: pacing, bytes and replies around the reply, rewritten
// replies, and the scopes of fault lines. Faults that make the library fail
// show in its own tests.
#include <chrono>

#include "SimDevice.h"
#include "SimTest.h"

namespace {

using Clock = std::chrono::steady_clock;
using zeph::Message;

const char CONSULTAR_REPLY[] = "000001|08000|SAT em Operação||";

class SimFaults : public SimTest {
protected:
    DeviceClient::Reply ask(const std::string& faultLines, const std::string& code = "ConsultarSAT",
                            const std::string& body = "000001") {
        EXPECT_TRUE(device.setFaults(faultLines));
        EXPECT_TRUE(client.send(code, body));
        return client.receive();
    }

    SimDevice device;
};

TEST_F(SimFaults, PacingHoldsTheReplyBackButKeepsItIntact) {
    const struct {
        const char* fault;
        std::chrono::milliseconds atLeast;
    } pacings[] = {{"next delay 300", std::chrono::milliseconds(300)},
                   {"next pieces 4 100", std::chrono::milliseconds(300)},
                   {"next dribble 1", std::chrono::milliseconds(150)}};
    for (const auto& pacing : pacings) {
        SCOPED_TRACE(pacing.fault);
        const auto start = Clock::now();
        const DeviceClient::Reply reply = ask(pacing.fault);
        EXPECT_GE(Clock::now() - start, pacing.atLeast);
        ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
        EXPECT_EQ(CONSULTAR_REPLY, plainBody(reply.message));
    }
}

// Noise, then a stale reply, then replies under wrong codes, then the reply,
// then noise again.
TEST_F(SimFaults, NoiseAndOtherRepliesSurroundTheReply) {
    DeviceClient::Reply reply =
        ask("next noise 37\nnext stale ExtrairLogs\nnext wrongcode 2\nnext trailing 25");
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ(37u, reply.bytes.find("smx\r\n"));
    EXPECT_EQ(std::string::npos, reply.bytes.substr(0, 37).find('s'));
    std::vector<std::string> codes = {reply.message.code()};
    for (int i = 0; i < 3; ++i) {
        reply = client.receive();
        ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
        codes.push_back(reply.message.code());
    }
    EXPECT_EQ(
        (std::vector<std::string>{"ExtrairLogs", "ConsultarSATX", "ConsultarSA", "ConsultarSAT"}),
        codes);
    EXPECT_EQ(CONSULTAR_REPLY, plainBody(reply.message));
    std::string after;
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         after.size() < 25 && Clock::now() < deadline;)
        after += client.receive(std::chrono::milliseconds(50)).bytes;
    EXPECT_EQ(25u, after.size());
}

// Lines of every scope apply together; "next" lines go once used.
TEST_F(SimFaults, RewrittenRepliesAndTheScopesOfFaultLines) {
    DeviceClient::Reply reply =
        ask("* delta 10 20 30 40 50 60\nConsultarSAT plain\nnext body 1|2\\n3\\\\\nnext "
            "headerbytes 4097");
    ASSERT_EQ(Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ(4097u, reply.bytes.find("\r\n\r\n\r\n") + 6);
    EXPECT_EQ("octet-stream", reply.message.header("content-type"));
    EXPECT_EQ("1|2\n3\\", reply.message.body());
    int value = 10;
    for (const char* name :
         {"DELTA_DRS", "DELTA_DRS_CCO", "DELTA_CCO", "DELTA_CSE_COM", "DELTA_CSE", "DELTA_SWB"}) {
        EXPECT_EQ(std::to_string(value), reply.message.header(name)) << name;
        value += 10;
    }
    EXPECT_EQ("* delta 10 20 30 40 50 60\nConsultarSAT plain\n", device.faults());

    reply = ask(device.faults());
    EXPECT_EQ("octet-stream", reply.message.header("content-type"));
    EXPECT_EQ(CONSULTAR_REPLY, reply.message.body());
    reply = ask("* delta 1 1 1 1 1 1\nnext bodysize 5000", "ExtrairLogs", "000002|12345678");
    EXPECT_EQ("z-compressed", reply.message.header("content-type"));
    EXPECT_EQ("1", reply.message.header("DELTA_SWB"));
    const std::string padded = plainBody(reply.message);
    EXPECT_EQ(5000u, padded.size());
    EXPECT_EQ(0u, padded.find("000002|15000|"));
}

}  // namespace
