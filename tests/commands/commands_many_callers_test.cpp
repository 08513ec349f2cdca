// Several callers on one device: threads of one host, the operator's console
// beside a host, a caller killed in the middle of an exchange, one that
// cannot wait as long as another's exchange lasts, a program started while
// an exchange is under way. The built library dlopened, the simulated device
// through the harness (activated, code 12345678).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ConsoleTest.h"
#include "DriverLog.h"
#include "DriverOnDevice.h"
#include "TestFiles.h"

extern char** environ;

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using namespace std::chrono_literals;

const char CODE[] = "12345678";
const int TIMED_OUT = 32768;

std::string session(int number) {
    char text[16];
    std::snprintf(text, sizeof text, "%06d", number);
    return text;
}

std::string firstField(const std::string& text) {
    return text.substr(0, text.find('|'));
}

class ManyCallers : public DriverOnDevice {
protected:
    // Every call reached the device whole and once, one caller at a time,
    // and no caller opened the line sooner than a second after another
    // closed it: a request's last byte comes after its caller opened the
    // line, and the one before it came before that caller closed.
    void expectOneAtATimeAndPaced(const std::multiset<std::string>& sessions) const {
        const std::vector<SimRequest> requests = device.requests();
        std::multiset<std::string> received;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            received.insert(firstField(requests[i].body));
            if (i > 0) {
                EXPECT_GE(requests[i].received - requests[i - 1].received, 1s)
                    << "request " << i << " came too soon after the previous one";
            }
        }
        EXPECT_EQ(received, sessions);
    }
};

// Each thread mixes a query, a sale (whose document only it decodes) and a
// status query the device spoils (status 1, empty reply): every reply and
// status is the calling thread's own, at an address of its own.
TEST_F(ManyCallers, EveryThreadGetsItsOwnRepliesAndStatus) {
    faults("ConsultarStatusOperacional badcrc");
    const std::string sale = readFile(SATVARO_SOURCE_DIR "/examples/venda.xml");
    const int threads = 4;
    const int callsEach = 3;
    std::array<const char*, threads> addresses{};
    std::multiset<std::string> sessions;
    std::vector<std::thread> callers;
    for (int t = 0; t < threads; ++t) {
        for (int i = 0; i < callsEach; ++i) {
            sessions.insert(session(100 * (t + 1) + i));
        }
        callers.emplace_back([&, t] {
            for (int i = 0; i < callsEach; ++i) {
                const int number = 100 * (t + 1) + i;
                switch ((t + i) % 3) {
                case 0:
                    EXPECT_THAT(sat.ConsultarSAT(number), StartsWith(session(number) + "|08000|"));
                    EXPECT_EQ(sat.CodigoErro(), 0);
                    EXPECT_STREQ(sat.Base64ToAscii(), "");
                    break;
                case 1:
                    addresses[t] = sat.EnviarDadosVenda(number, CODE, sale.c_str());
                    EXPECT_THAT(addresses[t], StartsWith(session(number) + "|06000|"));
                    EXPECT_EQ(sat.CodigoErro(), 0);
                    EXPECT_THAT(sat.Base64ToAscii(), HasSubstr("<CFe"));
                    break;
                default:
                    EXPECT_STREQ(sat.ConsultarStatusOperacional(number, CODE), "");
                    EXPECT_EQ(sat.CodigoErro(), 1);
                    break;
                }
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(std::set<const char*>(addresses.begin(), addresses.end()).size(), 4u);
    expectOneAtATimeAndPaced(sessions);
}

// The console counts its sessions from 1; this host's threads use others.
TEST_F(ManyCallers, TheConsoleBesideAHostTakesTurnsWithIt) {
    const ScratchDir consoleDir;
    ASSERT_TRUE(writeFile(consoleDir.path() / "codigoRuv.bin", std::string(CODE) + "\n"));
    satvaro::test::ConsoleProcess console({}, consoleDir.path().string());
    console.write("1\n1\n1\nq\n");
    std::multiset<std::string> sessions{session(1), session(2), session(3)};
    std::vector<std::thread> callers;
    for (int t = 0; t < 2; ++t) {
        for (int i = 0; i < 2; ++i) {
            sessions.insert(session(500 + 10 * t + i));
        }
        callers.emplace_back([&, t] {
            for (int i = 0; i < 2; ++i) {
                const int number = 500 + 10 * t + i;
                EXPECT_THAT(sat.ConsultarSAT(number), StartsWith(session(number) + "|08000|"));
                EXPECT_EQ(sat.CodigoErro(), 0);
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    EXPECT_EQ(console.finish(), 0) << console.err;
    std::vector<std::string> consoleSessions;
    for (const std::string& reply : satvaro::test::printedReplies(console.err)) {
        consoleSessions.push_back(firstField(reply));
    }
    EXPECT_EQ(consoleSessions, (std::vector<std::string>{session(1), session(2), session(3)}));
    expectOneAtATimeAndPaced(sessions);
}

// The kernel lets go of the device when its holder dies, however it dies.
TEST_F(ManyCallers, ACallerKilledMidExchangeLeavesTheDeviceFree) {
    faults("next silence");
    const pid_t killed = fork();
    ASSERT_GE(killed, 0);
    if (killed == 0) {
        sat.ConsultarSAT(900);
        _exit(0);
    }
    ASSERT_TRUE(device.waitForRequests(1));
    ::kill(killed, SIGKILL);
    ASSERT_EQ(::waitpid(killed, nullptr, 0), killed);

    EXPECT_THAT(sat.ConsultarSAT(901), StartsWith("000901|08000|"));
    EXPECT_EQ(sat.CodigoErro(), 0);
}

// The wait for the device counts in the waiting call's own time-out: a
// query (6 s) behind a status query the device answers after 8 s gives up
// without sending anything.
TEST_F(ManyCallers, ACallerWhoseTimeOutEndsWhileWaitingSendsNothing) {
    faults("ConsultarStatusOperacional delay 8000");
    int holderStatus = -1;
    std::thread holder([&] {
        sat.ConsultarStatusOperacional(700, CODE);
        holderStatus = sat.CodigoErro();
    });
    ASSERT_TRUE(device.waitForRequests(1));
    const LogCursor log;

    EXPECT_STREQ(sat.ConsultarSAT(701), "");
    EXPECT_EQ(sat.CodigoErro(), TIMED_OUT);
    holder.join();
    EXPECT_EQ(holderStatus, 0);
    EXPECT_EQ(device.requestCount(), 1u);
    int busyLines = 0;
    for (const std::string& line : log.lines()) {
        busyLines += line.rfind("error|[SerialCommChannel::connect_client] ", 0) == 0;
    }
    EXPECT_EQ(busyLines, 1);
}

// A program the host starts while another thread's exchange is under way
// inherits neither the line nor its lock, and the next caller is answered.
TEST_F(ManyCallers, AProgramStartedMidExchangeHoldsNothingOfTheDevice) {
    faults("next delay 1500");
    std::thread caller([&] { EXPECT_THAT(sat.ConsultarSAT(800), StartsWith("000800|")); });
    ASSERT_TRUE(device.waitForRequests(1));
    pid_t sleeper = -1;
    const char* const argv[] = {"sleep", "600", nullptr};
    ASSERT_EQ(
        posix_spawn(&sleeper, "/bin/sleep", nullptr, nullptr, const_cast<char**>(argv), environ),
        0);
    // Under qemu-user posix_spawn may return before the child has run exec:
    // what it inherits counts once it is sleep.
    const std::string exe = "/proc/" + std::to_string(sleeper) + "/exe";
    const std::filesystem::path sleep = std::filesystem::canonical("/bin/sleep");
    std::error_code notYet;
    for (int tries = 0; std::filesystem::read_symlink(exe, notYet) != sleep && tries < 5000;
         ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::string line = std::filesystem::canonical("/dev/ttyACM0");
    std::vector<std::string> inherited;
    for (const auto& fd :
         std::filesystem::directory_iterator("/proc/" + std::to_string(sleeper) + "/fd")) {
        std::error_code gone;
        inherited.push_back(std::filesystem::read_symlink(fd.path(), gone).string());
    }
    caller.join();

    EXPECT_THAT(sat.ConsultarSAT(801), StartsWith("000801|08000|"));
    ::kill(sleeper, SIGKILL);
    ASSERT_EQ(::waitpid(sleeper, nullptr, 0), sleeper);
    for (const std::string& target : inherited) {
        EXPECT_NE(target, line);
        // The device's lock file, by its name: a build directory may be
        // named satvaro-<version> too.
        EXPECT_THAT(target,
                    ::testing::Not(::testing::ContainsRegex("/satvaro-[0-9.]+-[0-9.]+\\.lock$")));
    }
}

}  // namespace
