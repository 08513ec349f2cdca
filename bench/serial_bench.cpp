// Sending a 1.5 MiB request: SerialCommChannel::send_data (8192-byte chunks,
// each drained and logged) against a plain write loop of the same bytes, both
// to a pty whose master a thread drains. Each iteration ends when the
// drainer has seen every byte. The 100 ms pause the device needs after a
// request is taken out of send_data's time; the ratio of the two
// throughputs is printed at the end.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "codec/Message.h"
#include "serial/SerialCommChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

const size_t REQUEST_SIZE = 3 << 19;  // 1.5 MiB
const double PAUSE_AFTER_SEND_S = 0.1;

// A pty pair; a thread reads and counts everything reaching the master. The
// drainer ends when the last slave descriptor has been closed.
class DrainedPty {
public:
    DrainedPty() : m_master(posix_openpt(O_RDWR | O_NOCTTY)), m_received(0) {
        grantpt(m_master);
        unlockpt(m_master);
        m_slavePath = ptsname(m_master);
        m_drainer = std::thread([this] { drain(); });
    }
    ~DrainedPty() {
        m_drainer.join();
        close(m_master);
    }
    const std::string& slavePath() const { return m_slavePath; }
    void waitFor(size_t total) const {
        while (m_received.load() < total) {
            std::this_thread::yield();
        }
    }
    size_t received() const { return m_received.load(); }

private:
    void drain() {
        static char sink[65536];
        for (;;) {
            const ssize_t got = read(m_master, sink, sizeof sink);
            if (got <= 0) {
                return;
            }
            m_received += static_cast<size_t>(got);
        }
    }

    int m_master;
    std::string m_slavePath;
    std::atomic<size_t> m_received;
    std::thread m_drainer;
};

zeph::Message largeRequest() {
    std::mt19937 generator(7);
    std::string body(REQUEST_SIZE, '\0');
    for (char& byte : body) {
        byte = static_cast<char>(generator());
    }
    zeph::Message request("EnviarDadosVenda", "3");
    request.setBody(body);
    return request;
}

double g_sendDataSeconds = 0;
double g_rawWriteSeconds = 0;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_SendData(benchmark::State& state) {
    DrainedPty pty;
    serial::SerialCommChannel channel;
    channel.openSerial(pty.slavePath());
    zeph::Message request = largeRequest();
    const size_t wireSize = request.toString().size();
    double total = 0;
    for (auto _ : state) {
        const size_t before = pty.received();
        const Clock::time_point start = Clock::now();
        channel.send_data(request);
        pty.waitFor(before + wireSize);
        const double seconds = secondsSince(start) - PAUSE_AFTER_SEND_S;
        state.SetIterationTime(seconds);
        total += seconds;
    }
    g_sendDataSeconds = total / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wireSize));
}

void BM_RawWrite(benchmark::State& state) {
    DrainedPty pty;
    const int slave = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    struct termios line;
    tcgetattr(slave, &line);
    cfmakeraw(&line);
    tcsetattr(slave, TCSANOW, &line);
    const std::string wire = largeRequest().toString();
    double total = 0;
    for (auto _ : state) {
        const size_t before = pty.received();
        const Clock::time_point start = Clock::now();
        for (size_t done = 0; done < wire.size();) {
            const ssize_t put = write(slave, wire.data() + done, wire.size() - done);
            if (put <= 0) {
                state.SkipWithError("write failed");
                break;
            }
            done += static_cast<size_t>(put);
        }
        pty.waitFor(before + wire.size());
        const double seconds = secondsSince(start);
        state.SetIterationTime(seconds);
        total += seconds;
    }
    close(slave);
    g_rawWriteSeconds = total / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}

BENCHMARK(BM_RawWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_SendData)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace

int main(int argc, char** argv) {
    // send_data logs every chunk below the working directory.
    char scratch[] = "/tmp/satvaro-bench-serial-XXXXXX";
    if (mkdtemp(scratch) == nullptr) {
        return 1;
    }
    std::filesystem::current_path(scratch);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_sendDataSeconds > 0 && g_rawWriteSeconds > 0) {
        std::printf("send_data throughput / raw write throughput (100 ms pause excluded): %.2f\n",
                    g_rawWriteSeconds / g_sendDataSeconds);
    }
    std::filesystem::current_path("/");
    std::filesystem::remove_all(scratch);
    return 0;
}
