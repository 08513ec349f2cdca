// The channel against a real pty pair: the test plays the device on the
// master side, the channel works on the slave exactly as on a ttyACM node.
#include <fcntl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <random>
#include <thread>

#include "DriverLog.h"
#include "PtyPair.h"
#include "ScopedWorkDir.h"
#include "serial/SerialCommChannel.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const CODE = "ConsultarSAT";
const std::string SENT_PREFIX = "info|[SerialCommChannel::send_data] Bytes enviados: ";
const std::string SENT_OK = "info|[SerialCommChannel::send_data] Enviado com sucesso";

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

long long threadCpuMs() {
    struct timespec used;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<long long>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
}

zeph::Message request(const std::string& body = "000007") {
    zeph::Message message(CODE, "3");
    message.setBody(body);
    message.compress();
    return message;
}

// The wire form of a reply with `code` and `body`, compressed like a device's.
std::string replyWire(const std::string& code, const std::string& body) {
    zeph::Message reply(code, "1");
    reply.setBody(body);
    EXPECT_EQ(reply.compress(), 0);
    return reply.toString();
}

// A plain request whose wire form is exactly `size` bytes long.
zeph::Message requestOfWireSize(size_t size) {
    zeph::Message message(CODE, "3");
    message.setBody("");
    const size_t headerSize = message.toString().size();
    // The header grows with the digits of content-size and edc-word.
    for (size_t body = size - headerSize - 12; body <= size - headerSize; ++body) {
        message.setBody(std::string(body, 'x'));
        if (message.toString().size() == size) {
            return message;
        }
    }
    ADD_FAILURE() << "no body gives a wire of " << size << " bytes";
    return message;
}

std::string randomBytes(size_t size) {
    std::mt19937 generator(4);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

// `wire` with the value of header `name` replaced.
std::string withHeader(std::string wire, const std::string& name, const std::string& value) {
    const size_t start = wire.find("\r\n" + name + ":") + name.size() + 3;
    wire.replace(start, wire.find("\r\n", start) - start, value);
    return wire;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.ok()) << device.error();
        ASSERT_EQ(channel.openSerial(device.slavePath()), 0);
    }

    // Sends a request while `deviceSide` runs on the master, then waits for
    // the reply like a transaction does.
    int exchange(const std::function<void()>& deviceSide, int timeoutMs = 6000) {
        std::thread peer(deviceSide);
        zeph::Message sent = request();
        channel.send_data(sent);
        const int status = channel.receive_data(CODE, reply, timeoutMs);
        peer.join();
        return status;
    }

    // The device reads the request and answers with `wire` in one write.
    std::function<void()> answers(const std::string& wire) {
        return [this, wire] {
            device.readMessage();
            EXPECT_TRUE(device.writeAll(wire));
        };
    }

    ScopedWorkDir workDir;  // the channel logs below it
    PtyPair device;
    serial::SerialCommChannel channel;
    zeph::Message reply;
    LogCursor log;
};

TEST_F(ChannelTest, OpensTheLineRawAt38400) {
    const int probe = open(device.slavePath().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(probe, 0);
    struct termios line;
    ASSERT_EQ(tcgetattr(probe, &line), 0);
    close(probe);
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B38400));
    EXPECT_EQ(line.c_cflag & ~CSIZE, static_cast<tcflag_t>(CLOCAL | CREAD | B38400));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_iflag, 0u);
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOPRT | ISIG),
              0u);
    EXPECT_EQ(line.c_cc[VTIME], 1);
    EXPECT_EQ(line.c_cc[VMIN], 0);

    EXPECT_EQ(channel.openSerial(""), -1);
    EXPECT_TRUE(channel.serialIsValid()) << "an empty path left the open port alone";
}

TEST_F(ChannelTest, WritesLongRequestsIn8192ByteChunks) {
    zeph::Message sent = requestOfWireSize(20000);
    zeph::Message received;
    std::thread peer([&] { received = device.readMessage(); });
    EXPECT_EQ(channel.send_data(sent), 3616);
    peer.join();
    EXPECT_TRUE(received == sent);
    const std::vector<std::string> expected = {SENT_PREFIX + "11808Bytes Totais: 20000",
                                               SENT_PREFIX + "3616Bytes Totais: 20000",
                                               SENT_PREFIX + "3616Bytes Totais: 20000", SENT_OK};
    EXPECT_EQ(log.lines(), expected);
}

// Output still queued when a write returns must reach the device, whether
// it reads right away (a large request) or only later (a short one).
TEST_F(ChannelTest, RequestsArriveIntact) {
    zeph::Message shortOne = request(std::string(250, 's'));
    EXPECT_GT(channel.send_data(shortOne), 0);
    EXPECT_TRUE(device.readMessage() == shortOne);

    zeph::Message large(CODE, "3");
    large.setBody(randomBytes(3 << 19));  // 1.5 MiB
    zeph::Message received;
    std::thread peer([&] { received = device.readMessage(); });
    EXPECT_GT(channel.send_data(large), 0);
    peer.join();
    EXPECT_TRUE(received == large);
    EXPECT_EQ(log.count("info", "[SerialCommChannel::send_data] Enviado com sucesso"), 2);
}

TEST(ClosedChannel, SendFailsAtOnce) {
    ScopedWorkDir workDir;
    serial::SerialCommChannel channel;
    LogCursor log;
    zeph::Message sent = request();
    const size_t size = sent.toString().size();
    EXPECT_EQ(channel.send_data(sent), -1);
    const std::vector<std::string> expected = {
        SENT_PREFIX + std::to_string(size) + "Bytes Totais: " + std::to_string(size),
        "info|[SerialCommChannel::send_data] Falha no envio."};
    EXPECT_EQ(log.lines(), expected);
}

TEST_F(ChannelTest, AssemblesAReplyArrivingInPieces) {
    const std::string body = "000007|08000|SAT em Operação||";
    const std::string wire = replyWire(CODE, body);
    const int status = exchange([&] {
        device.readMessage();
        const size_t piece = wire.size() / 4 + 1;
        for (size_t at = 0; at < wire.size(); at += piece) {
            EXPECT_TRUE(device.writeAll(wire.substr(at, piece)));
            device.waitUntilTaken();
        }
    });
    EXPECT_EQ(status, serial::STATUS_OK);
    EXPECT_EQ(reply.code(), CODE);
    EXPECT_EQ(reply.body(), body);
    EXPECT_EQ(log.count("info", "[SerialCommChannel::receive_data] __NOERROR__"), 1);
}

TEST_F(ChannelTest, SkipsAStaleReplyInTheSameRead) {
    const int status =
        exchange(answers(replyWire("AtivarSAT", "stale") + replyWire(CODE, "fresh")));
    EXPECT_EQ(status, serial::STATUS_OK);
    EXPECT_EQ(reply.body(), "fresh");
    EXPECT_EQ(log.count("info", "Comando invalido"), 1);
    EXPECT_EQ(log.count("info", "Reinicio do timeout"), 1);
    EXPECT_EQ(log.count("info", "[SerialCommChannel::receive_data] __NOERROR__"), 1);
}

TEST_F(ChannelTest, RefusesAReplyBodyAboveTheLimit) {
    const std::string oversized = replyWire(CODE, std::string(0x180001, 'a'));
    const int status = exchange(answers(oversized + replyWire(CODE, "fits")));
    EXPECT_EQ(status, serial::STATUS_OK);
    EXPECT_EQ(reply.body(), "fits");
    EXPECT_EQ(log.count("info", "Comando invalido"), 1);
}

TEST_F(ChannelTest, SixWrongRepliesEndWithStatus4) {
    std::string wrong;
    for (int i = 0; i < 6; ++i) {
        wrong += replyWire("AtivarSAT", "stale " + std::to_string(i));
    }
    EXPECT_EQ(exchange(answers(wrong)), serial::STATUS_WRONG_REPLY);
    EXPECT_EQ(log.count("info", "Comando invalido"), 6);
    EXPECT_EQ(log.count("info", "Reinicio do timeout"), 5);
    EXPECT_TRUE(reply == zeph::Message()) << "the reply changes only when one is accepted";
}

TEST_F(ChannelTest, ParseErrorsEndWithStatus1) {
    const std::string good = replyWire(CODE, "000007|08000|ok||");
    const int edc = std::stoi(good.substr(good.find("edc-word:") + 9));
    const struct {
        std::string wire;
        std::string line;
    } cases[] = {
        {withHeader(good, "edc-word", std::to_string((edc + 1) % 65536)),
         "error|[SerialCommChannel::receive_data] PARSER_CHECKSUM_ERROR"},
        // Without a body, so that the error is the last thing read.
        {"smx\r\ncode:" + std::string(CODE) +
             "\r\ncontent-size:0\r\nedc-word:0\r\nsource:1\r\nversion:2.0\r\n\r\n\r\n",
         "error|[SerialCommChannel::receive_data] PARSER_SYNTAX_ERROR"},
    };
    for (const auto& broken : cases) {
        SCOPED_TRACE(broken.line);
        const LogCursor before;
        EXPECT_EQ(exchange(answers(broken.wire)), serial::STATUS_PARSE_ERROR);
        const std::vector<std::string> lines = before.lines();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), broken.line), 1);
        EXPECT_TRUE(reply == zeph::Message());
    }
}

TEST_F(ChannelTest, SilentDeviceTimesOutCountedFromTheStartOfSending) {
    std::thread peer([&] { device.readMessage(); });
    const Clock::time_point start = Clock::now();
    zeph::Message sent = request();
    channel.send_data(sent);
    peer.join();
    // Listening starts late on purpose: the time-out runs from the send.
    std::this_thread::sleep_for(milliseconds(2000));
    const Clock::time_point listening = Clock::now();
    const long long cpuBefore = threadCpuMs();
    EXPECT_EQ(channel.receive_data(CODE, reply, 6000), serial::STATUS_TIMEOUT);
    EXPECT_LT(threadCpuMs() - cpuBefore, 500) << "waiting must not spin";
    EXPECT_GE(msSince(start), 6000);
    EXPECT_LT(msSince(listening), 5000);
    EXPECT_EQ(log.count("error", " [SerialCommChannel::receive_data] __TIMEOUT__"), 1);
    EXPECT_TRUE(channel.serialIsValid()) << "silence alone does not close the port";
}

TEST_F(ChannelTest, UnpluggedDeviceEndsWithReadErrorAtOnce) {
    const Clock::time_point start = Clock::now();
    const int status = exchange(
        [&] {
            device.readMessage();
            EXPECT_TRUE(device.writeAll(replyWire(CODE, "000007|08000|cut short||").substr(0, 40)));
            device.waitUntilTaken();
            device.closeMaster();
        },
        302000);
    EXPECT_EQ(status, serial::STATUS_READ_ERROR);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(log.count("error", " [SerialCommChannel::receive_data] __READERROR__"), 1);
    EXPECT_FALSE(channel.serialIsValid()) << "the hung-up port was closed";
}

TEST_F(ChannelTest, AcceptedReplyEndsTheExchangeAtOnce) {
    // Bytes of a further message after the reply do not keep the exchange going.
    const std::string trailing = "smx\r\ncode:" + std::string(CODE);
    EXPECT_EQ(exchange(answers(replyWire(CODE, "first") + trailing), 3000), serial::STATUS_OK);
    EXPECT_EQ(reply.body(), "first");

    // A reply judged after the time-out is still a reply.
    std::promise<void> answered;
    std::thread peer([&] {
        device.readMessage();
        EXPECT_TRUE(device.writeAll(replyWire(CODE, "late")));
        answered.set_value();
    });
    zeph::Message sent = request();
    channel.send_data(sent);
    answered.get_future().wait();
    EXPECT_EQ(channel.receive_data(CODE, reply, 1), serial::STATUS_OK);
    peer.join();
    EXPECT_EQ(reply.body(), "late");
    EXPECT_EQ(log.count("error", " [SerialCommChannel::receive_data] __TIMEOUT__"), 0);
}

}  // namespace
