// The device misbehaving (simulator faults) under the exported functions of
// the built library: each fault ends a ConsultarSAT with its status, logged
// once, and no reply text unless a reply was taken; the host (this process)
// stays alive and the next call is answered. The faults the soak host meets
// every cycle (noise, stale replies, a dribbled reply) are not repeated.
//
// A damaged header block is a parse error, but the rest of the message follows
// in the same read; only the state after a read's last byte decides, so these
// replies end in ConsultarSAT's 6 s time-out: one case each, so that ctest
// runs them side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "DriverOnDevice.h"

namespace {

struct Fault {
    const char* name;
    const char* lines;  // the simulator's
    int status;
    const char* logged;         // "level|message"
    std::size_t replySize = 0;  // of the reply text handed back
    int times = 1;              // that `logged` is
};

void PrintTo(const Fault& fault, std::ostream* out) {
    *out << fault.lines;
}

// The most this process held in memory since the peak was last reset, in kB;
// resetting starts it again from what the process holds now.
long peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}
void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// However large a reply announces itself, one call holds a few copies of the
// largest acceptable one at most.
const long MOST_HELD_FOR_A_REPLY_KB = 24 * 1024;

class HostileDevice : public DriverOnDevice, public ::testing::WithParamInterface<Fault> {};

TEST_P(HostileDevice, EndsWithItsStatusAndTheNextCallIsAnswered) {
    const LogCursor log;
    faults(GetParam().lines);
    resetPeakResident();
    const long heldBefore = peakResidentKb();
    EXPECT_EQ(std::string(sat.ConsultarSAT(1)).size(), GetParam().replySize);
    EXPECT_LT(peakResidentKb() - heldBefore, MOST_HELD_FOR_A_REPLY_KB);
    EXPECT_EQ(sat.CodigoErro(), GetParam().status);
    const std::vector<std::string> lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), GetParam().logged), GetParam().times);
    EXPECT_STREQ(sat.ConsultarSAT(2), "000002|08000|SAT em Operação||");
    EXPECT_EQ(sat.CodigoErro(), 0);
}

const std::size_t ANSWER_SIZE = std::string("000001|08000|SAT em Operação||").size();
const char SYNTAX_ERROR[] = "error|[SerialCommChannel::receive_data] PARSER_SYNTAX_ERROR";
const char TIMED_OUT[] = "error| [SerialCommChannel::receive_data] __TIMEOUT__";
const char READ_ERROR[] = "error| [SerialCommChannel::receive_data] __READERROR__";

// A reply must leave room for its NUL in the reply buffer: the device link
// judges the edge, SATVARO_REPLY_BUFFER_SIZE, and the host sees it from one
// byte under to one byte over. A content-size of 4294967296 read as a 32-bit
// number, or of text read as strtol reads it, would be 0: a complete message
// with an empty body, and the real body thrown away as noise; one of
// 2,000,000,000 is refused once its header block is read, and the 40 MB that
// follow it are not collected. The bomb's body announces 21 MiB, over the
// 20 MiB cap: it is not uncompressed, and its compressed bytes are no reply
// text either.
INSTANTIATE_TEST_SUITE_P(
    Faults, HostileDevice,
    ::testing::Values(
        Fault{"StaleReplyThenTheReply", "next stale AtivarSAT", 0, "info|Reinicio do timeout",
              ANSWER_SIZE},
        Fault{"SixStaleRepliesEachInARead", "next wrongcode 6\nnext apart", 4,
              "info|Reinicio do timeout", 0, 5},
        Fault{"NoiseAfterTheReply", "next trailing 3000", 0,
              "info|[SerialCommChannel::receive_data] __NOERROR__", ANSWER_SIZE},
        Fault{"BadEdcWord", "next badcrc", 1,
              "error|[SerialCommChannel::receive_data] PARSER_CHECKSUM_ERROR"},
        Fault{"Silence", "next silence", 32768, TIMED_OUT},
        Fault{"LargestReply", "next bodysize 1572863", 0,
              "info|[SerialCommChannel::receive_data] __NOERROR__", 1572863},
        Fault{"ReplyFillingTheBuffer", "next bodysize 1572864", 4, "info|Comando invalido"},
        Fault{"ReplyOverTheBuffer", "next bodysize 1572865", 4, "info|Comando invalido"},
        Fault{"UnpluggedInTheHeaderBlock", "next unplug 20", 2, READ_ERROR},
        Fault{"HeaderBlockOver4097Bytes", "next headerbytes 5000", 32768, SYNTAX_ERROR},
        Fault{"CarriageReturnWithoutLineFeed", "next crnolf", 32768, SYNTAX_ERROR},
        Fault{"WithoutVersion", "next syntax", 32768, SYNTAX_ERROR},
        Fault{"NegativeContentSize", "next contentsize -1", 32768, SYNTAX_ERROR},
        Fault{"ContentSizeBeyond32Bits", "next contentsize 4294967296", 32768, SYNTAX_ERROR},
        Fault{"ContentSizeWithoutDigits", "next contentsize abc", 32768, SYNTAX_ERROR},
        Fault{"HugeContentSizeBeforeALongStream",
              "next plain\nnext bodysize 40000000\nnext contentsize 2000000000", 4,
              "info|Comando invalido"},
        Fault{"ZlibBomb", "next bomb", 4, "info|Comando invalido"},
        Fault{"UnpluggedHalfwayThroughALargeReply",
              "next plain\nnext bodysize 1000000\nnext unplug 500000", 2, READ_ERROR}),
    [](const ::testing::TestParamInfo<Fault>& instance) {
        return std::string(instance.param.name);
    });

// A device that stops taking bytes in the middle of a 1.1 MB request: the
// sale ends at its 10 s time-out, the host blocked no longer than that and
// the pauses, and the device answers again once it reads on.
class StalledDevice : public DriverOnDevice {};

TEST_F(StalledDevice, ASaleEndsAtItsTimeOutAndTheDeviceAnswersOnceItReadsOn) {
    std::mt19937 random(7);
    std::string sale(1500000, ' ');
    const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (char& letter : sale) {
        letter = letters[random() % 64];  // that much does not compress below 1.1 MB
    }
    const LogCursor log;
    faults("* stall 100000");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(sat.EnviarDadosVenda(1, "12345678", sale.c_str()), "");
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(10000 + 1100 + 2000));
    EXPECT_EQ(sat.CodigoErro(), 32768);
    EXPECT_EQ(log.count("info", "[SerialCommChannel::send_data] Falha no envio."), 1);
    EXPECT_EQ(log.count("error", " [SerialCommChannel::receive_data] __TIMEOUT__"), 1);

    faults("");
    EXPECT_STREQ(sat.ConsultarSAT(2), "000002|08000|SAT em Operação||");
    EXPECT_EQ(sat.CodigoErro(), 0);
}

}  // namespace
