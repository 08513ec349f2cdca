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
const std::string SENT = "info|[SerialCommChannel::send_data] ";
const std::string RECEIVED = "[SerialCommChannel::receive_data] ";

zeph::Message request(const std::string& body = "000007") {
    zeph::Message message(CODE, "3");
    message.setBody(body);
    return message;
}

// The wire form of a reply with `code` and `body`, compressed like a device's.
std::string replyWire(const std::string& code, const std::string& body) {
    zeph::Message reply(code, "1");
    reply.setBody(body);
    EXPECT_EQ(reply.compress(), 0);
    return reply.toString();
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
    EXPECT_EQ(line.c_cflag, static_cast<tcflag_t>(CLOCAL | CREAD | B38400 | CS8));
    EXPECT_EQ(line.c_iflag, 0u);
    EXPECT_EQ(line.c_oflag, 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(line.c_cc[VTIME], 1);
    EXPECT_EQ(line.c_cc[VMIN], 0);

    EXPECT_EQ(channel.openSerial(""), -1);
    EXPECT_TRUE(channel.serialIsValid()) << "an empty path left the open port alone";
}

// Output still queued when a write returns must reach the device, whether
// it reads right away (a large request) or only later (a short one).
TEST_F(ChannelTest, SendsIn8192ByteChunksAndEveryByteArrives) {
    zeph::Message shortOne = request(std::string(250, 's'));
    EXPECT_GT(channel.send_data(shortOne), 0);
    EXPECT_EQ(device.readMessage().toString(), shortOne.toString());

    zeph::Message large = request();
    std::mt19937 random(4);
    std::string body(20000, '\0');
    for (char& byte : body) {
        byte = static_cast<char>(random());
    }
    large.setBody(body);
    const size_t size = large.toString().size();
    zeph::Message received;
    std::thread peer([&] { received = device.readMessage(); });
    EXPECT_GT(channel.send_data(large), 0);
    peer.join();
    EXPECT_EQ(received.toString(), large.toString());
    // After each chunk what is left, but a whole last chunk leaves its size.
    const auto chunk = [](size_t left, size_t total) {
        return SENT + "Bytes enviados: " + std::to_string(left) +
               "Bytes Totais: " + std::to_string(total);
    };
    const size_t small = shortOne.toString().size();
    EXPECT_EQ(log.lines(),
              (std::vector<std::string>{chunk(small, small), SENT + "Enviado com sucesso",
                                        chunk(size - 8192, size), chunk(size - 16384, size),
                                        chunk(size - 16384, size), SENT + "Enviado com sucesso"}));

    serial::SerialCommChannel closed;
    EXPECT_EQ(closed.send_data(shortOne), -1);
    EXPECT_EQ(log.lines().back(), SENT + "Falha no envio.");
}

TEST_F(ChannelTest, AssemblesAReplyArrivingInPiecesEvenAfterTheTimeOut) {
    const std::string wire = replyWire(CODE, "000007|08000|SAT em Operação||");
    EXPECT_EQ(exchange([&] {
                  device.readMessage();
                  for (size_t at = 0; at < wire.size(); at += wire.size() / 4 + 1) {
                      EXPECT_TRUE(device.writeAll(wire.substr(at, wire.size() / 4 + 1)));
                      device.waitUntilTaken();
                  }
              }),
              SATVARO_STATUS_OK);
    EXPECT_EQ(reply.body(), "000007|08000|SAT em Operação||");

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
    EXPECT_EQ(channel.receive_data(CODE, reply, 1), SATVARO_STATUS_OK);
    peer.join();
    EXPECT_EQ(reply.body(), "late");
}

long long threadCpuMs() {
    struct timespec used;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<long long>(used.tv_sec) * 1000 + used.tv_nsec / 1000000;
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
    EXPECT_EQ(channel.receive_data(CODE, reply, 6000), SATVARO_STATUS_TIMEOUT);
    EXPECT_LT(threadCpuMs() - cpuBefore, 500) << "waiting must not spin";
    EXPECT_GE(Clock::now() - start, milliseconds(6000));
    EXPECT_LT(Clock::now() - listening, milliseconds(5000));
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
    EXPECT_EQ(status, SATVARO_STATUS_READ_ERROR);
    EXPECT_LT(Clock::now() - start, milliseconds(5000));
    EXPECT_EQ(log.count("error", " " + RECEIVED + "__READERROR__"), 1);
    EXPECT_FALSE(channel.serialIsValid()) << "the hung-up port was closed";
}

}  // namespace
