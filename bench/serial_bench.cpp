// Sending a 1.5 MiB request: SerialCommChannel::send_data (8192-byte chunks,
// each drained and logged) against a plain write loop of the same bytes, both
// to a pty whose master a thread drains, timed until the drainer has seen
// every byte. Counter "ratio": raw write time / send_data time (medians), i.e.
// send_data's throughput as a fraction of the raw one.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codec/Message.h"
#include "serial/SerialCommChannel.h"
#include "Timing.h"

namespace {


const size_t REQUEST_SIZE = 3 << 19;  // 1.5 MiB

// A pty pair; a thread reads everything reaching the master and notes when
// the byte count reached a target. The drainer ends when the last slave
// descriptor has been closed.
class DrainedPty {
public:
    DrainedPty() : m_master(posix_openpt(O_RDWR | O_NOCTTY)), m_received(0), m_target(0) {
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

    // Arms the clock for `bytes` more bytes.
    void expect(size_t bytes) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_done = false;
        m_target = m_received + bytes;
    }
    // The instant the expected bytes had all arrived.
    Clock::time_point arrival() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_arrived.wait(lock, [this] { return m_done; });
        return m_doneAt;
    }

private:
    void drain() {
        std::vector<char> sink(65536);
        for (;;) {
            const ssize_t got = read(m_master, sink.data(), sink.size());
            if (got <= 0) {
                return;
            }
            const Clock::time_point now = Clock::now();
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_received += static_cast<size_t>(got);
            if (!m_done && m_received >= m_target) {
                m_done = true;
                m_doneAt = now;
                m_arrived.notify_all();
            }
        }
    }

    int m_master;
    std::string m_slavePath;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    size_t m_received;
    size_t m_target;
    bool m_done = true;
    Clock::time_point m_doneAt;
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

int openRawSlave(const std::string& path) {
    const int slave = open(path.c_str(), O_RDWR | O_NOCTTY);
    struct termios line;
    tcgetattr(slave, &line);
    cfmakeraw(&line);
    tcsetattr(slave, TCSANOW, &line);
    return slave;
}

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Each iteration sends the request both ways, so that both see the same
// load on the machine. The time of an iteration is that of send_data; the
// 100 ms pause comes after the last byte has arrived and is not counted.
void BM_SendDataAgainstRawWrite(benchmark::State& state) {
    DrainedPty rawPty;
    DrainedPty channelPty;
    const int rawSlave = openRawSlave(rawPty.slavePath());
    serial::SerialCommChannel channel;
    channel.openSerial(channelPty.slavePath());
    zeph::Message request = largeRequest();
    const std::string wire = request.toString();

    std::vector<double> raw;
    std::vector<double> sendData;
    for (auto _ : state) {
        rawPty.expect(wire.size());
        Clock::time_point start = Clock::now();
        for (size_t done = 0; done < wire.size();) {
            const ssize_t put = write(rawSlave, wire.data() + done, wire.size() - done);
            if (put <= 0) {
                state.SkipWithError("write failed");
                break;
            }
            done += static_cast<size_t>(put);
        }
        raw.push_back(seconds(start, rawPty.arrival()));

        channelPty.expect(wire.size());
        start = Clock::now();
        channel.send_data(request);
        sendData.push_back(seconds(start, channelPty.arrival()));
        state.SetIterationTime(sendData.back());
    }
    close(rawSlave);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
    state.counters["raw_ms"] = median(raw) * 1000;
    state.counters["send_data_ms"] = median(sendData) * 1000;
    state.counters["ratio"] = median(raw) / median(sendData);
}

BENCHMARK(BM_SendDataAgainstRawWrite)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(60);

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
    std::filesystem::current_path("/");
    std::filesystem::remove_all(scratch);
    return 0;
}
