// The device misbehaving (simulator faults) under the exported functions of
// the built library. Each case ends with the status the exchange rules give,
// an empty reply text when nothing was accepted, the host (this process)
// alive, and the next call answered. Cases already shown elsewhere the same
// way (a bad edc-word, a 1,572,864-byte reply, an unplug inside the header
// block: tests/commands) are not repeated.
//
// A damaged header block is a parse error, but the rest of the message follows
// in the same read; only the state after a read's last byte decides, so these
// replies end in the command's time-out (ConsultarSAT: 6 s), one case each,
// so that ctest runs them side by side.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <string>

#include "HostOnDevice.h"

namespace {

using Clock = std::chrono::steady_clock;
using ::testing::StartsWith;

const int TIMEOUT = 32768;
const int WRONG_REPLY = 4;
const int READ_ERROR = 2;
const char SYNTAX_ERROR[] = "[SerialCommChannel::receive_data] PARSER_SYNTAX_ERROR";

class HostileDevice : public HostOnDevice {
protected:
    // One ConsultarSAT under `faultLines`: its status, and its reply text.
    int queryUnder(const std::string& faultLines, std::string* reply = nullptr) {
        faults(faultLines);
        const std::string text = sat.ConsultarSAT(1);
        if (reply != nullptr) {
            *reply = text;
        }
        return sat.CodigoErro();
    }

    // A reply the library must not take: nothing handed back, after waiting
    // for a good one as long as ConsultarSAT may.
    void expectTimedOutUnder(const std::string& faultLines, int status = TIMEOUT) {
        const Clock::time_point start = Clock::now();
        std::string reply;
        EXPECT_EQ(queryUnder(faultLines, &reply), status) << faultLines;
        EXPECT_EQ(reply, "");
        EXPECT_GE(Clock::now() - start, std::chrono::seconds(6));
        expectQueryAnswered();
    }
};

TEST_F(HostileDevice, NoiseAroundTheReplyIsSkipped) {
    std::string reply;
    EXPECT_EQ(queryUnder("next noise 5000\nnext trailing 3000", &reply), 0);
    EXPECT_EQ(reply, "000001|08000|SAT em Operação||");
    expectQueryAnswered();
}

TEST_F(HostileDevice, ReplyDribbledOneByteAtATimeArrivesWhole) {
    std::string reply;
    EXPECT_EQ(queryUnder("next dribble 1", &reply), 0);
    EXPECT_EQ(reply, "000001|08000|SAT em Operação||");

    // A sale's reply, some kilobytes, in as many reads: its document intact.
    faults("next dribble 1");
    const std::string sale = sat.EnviarDadosVenda(2, CODE, "<CFe><infCFe/></CFe>");
    EXPECT_EQ(sat.CodigoErro(), 0);
    EXPECT_EQ(std::count(sale.begin(), sale.end(), '|'), 11) << sale;
    EXPECT_THAT(std::string(sat.Base64ToAscii()), StartsWith("<?xml version=\"1.0\""));
    expectQueryAnswered();
}

TEST_F(HostileDevice, HeaderBlockOfTheLargestSizeIsTaken) {
    std::string reply;
    EXPECT_EQ(queryUnder("next headerbytes 4097", &reply), 0);  // final LF included
    EXPECT_EQ(reply, "000001|08000|SAT em Operação||");
    expectQueryAnswered();
}

TEST_F(HostileDevice, HugeContentSizeIsWaitedForUntilTheTimeOut) {
    expectTimedOutUnder("next contentsize 2000000000");
}

struct DamagedHeader {
    const char* name;
    const char* fault;
};

void PrintTo(const DamagedHeader& header, std::ostream* out) {
    *out << header.fault;
}

class DamagedHeaderBlock : public HostileDevice,
                           public ::testing::WithParamInterface<DamagedHeader> {};

TEST_P(DamagedHeaderBlock, IsASyntaxErrorAndNoReply) {
    expectTimedOutUnder(GetParam().fault);
    EXPECT_EQ(log.count("error", SYNTAX_ERROR), 1);
}

// A content-size of 4294967296 read as a 32-bit number, or of text read as
// strtol reads it, would be 0: a complete message with an empty body, and the
// real body thrown away as noise.
INSTANTIATE_TEST_SUITE_P(
    HostileDevice, DamagedHeaderBlock,
    ::testing::Values(DamagedHeader{"Over4097Bytes", "next headerbytes 5000"},
                      DamagedHeader{"CarriageReturnWithoutLineFeed", "next crnolf"},
                      DamagedHeader{"WithoutVersion", "next syntax"},
                      DamagedHeader{"NegativeContentSize", "next contentsize -1"},
                      DamagedHeader{"ContentSizeBeyond32Bits", "next contentsize 4294967296"},
                      DamagedHeader{"ContentSizeWithoutDigits", "next contentsize abc"}),
    [](const ::testing::TestParamInfo<DamagedHeader>& instance) {
        return std::string(instance.param.name);
    });

// The body announces 21 MiB: it is not uncompressed (the cap is 20 MiB), and
// its compressed bytes are no reply text either.
TEST_F(HostileDevice, ZlibBombIsRefused) {
    expectTimedOutUnder("next bomb", WRONG_REPLY);
    EXPECT_EQ(log.count("info", "Comando invalido"), 1);
}

TEST_F(HostileDevice, LargestReplyIsHandedBackWholeALargerOneIsRefused) {
    std::string reply;
    EXPECT_EQ(queryUnder("next bodysize 1572863", &reply), 0);
    EXPECT_EQ(reply.size(), 1572863u);
    EXPECT_THAT(reply, StartsWith("000001|08000|SAT em Operação||   "));
    expectTimedOutUnder("next bodysize 2000000", WRONG_REPLY);
}

TEST_F(HostileDevice, SixRepliesForOtherCommandsEndWithStatus4) {
    // Each in a read of its own: five restart the wait, the sixth ends it.
    std::string reply;
    EXPECT_EQ(queryUnder("next wrongcode 5\nnext apart", &reply), 0);
    EXPECT_EQ(reply, "000001|08000|SAT em Operação||");
    EXPECT_EQ(queryUnder("next wrongcode 6\nnext apart", &reply), WRONG_REPLY);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(log.count("info", "Comando invalido"), 11);
    EXPECT_EQ(log.count("info", "Reinicio do timeout"), 10);
    expectQueryAnswered();  // the real reply that came late is not taken for this one
}

TEST_F(HostileDevice, SilentDeviceTimesOut) {
    expectTimedOutUnder("next silence");
}

TEST_F(HostileDevice, UnplugInTheMiddleOfALargeReplyIsAReadErrorAndTheDeviceIsFoundAgain) {
    const std::string before = device.slavePath();
    std::string reply;
    EXPECT_EQ(queryUnder("next plain\nnext bodysize 1000000\nnext unplug 500000", &reply),
              READ_ERROR);
    EXPECT_EQ(reply, "");
    EXPECT_NE(device.slavePath(), before);  // back on a new line
    EXPECT_EQ(log.count("error", " [SerialCommChannel::receive_data] __READERROR__"), 1);
    expectQueryAnswered();
}

}  // namespace
