// The driver's own cost per command call: ConsultarSAT through the exported
// function of the built library, against the simulator answering at once
// (run under the harness). Every call spends 1.1 s in the pauses the device
// needs (100 ms after sending, 1 s when the closed channel is destroyed);
// this program defines usleep itself, so that the library's pauses come here
// and their real length is taken out of each call's wall time. What is left
// is the driver's overhead; the step benchmarks break it down.
//
//   sim/satvaro-harness -- build/bin/bench_commands
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "LoadedDriver.h"
#include "codec/Message.h"
#include "log/logdebug.h"
#include "serial/SerialCommChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_pausedSeconds = 0;  // time spent in the library's pauses
bool g_skipPauses = false;   // for the long resource run: no pacing at all

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

// Interposes the C library's usleep for the whole process, the loaded driver
// included (the executable exports its symbols).
extern "C" int usleep(useconds_t microseconds) {
    using Usleep = int (*)(useconds_t);
    static const Usleep realUsleep = reinterpret_cast<Usleep>(dlsym(RTLD_NEXT, "usleep"));
    if (g_skipPauses) {
        return 0;
    }
    const Clock::time_point start = Clock::now();
    const int result = realUsleep(microseconds);
    g_pausedSeconds += seconds(Clock::now() - start);
    return result;
}

namespace {

LoadedDriver& driver() {
    static LoadedDriver loaded(SATVARO_LIBRARY_PATH);
    return loaded;
}

long statusField(const char* name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name, 0) == 0) {
            return std::stol(line.substr(std::string(name).size()));
        }
    }
    return -1;
}

long openDescriptors() {
    long count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Whole calls: wall time minus the time spent pausing.
void ConsultarSAT_overhead(benchmark::State& state) {
    int session = 0;
    for (auto _ : state) {
        const double pausedBefore = g_pausedSeconds;
        const Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(driver().ConsultarSAT(++session));
        const double wall = seconds(Clock::now() - start);
        const double paused = g_pausedSeconds - pausedBefore;
        if (driver().CodigoErro() != 0) {
            state.SkipWithError("the simulator did not answer");
            break;
        }
        state.SetIterationTime(wall - paused);
        state.counters["paused_s"] = paused;
    }
}
BENCHMARK(ConsultarSAT_overhead)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The steps of one call, each on its own.
void Step_discovery(benchmark::State& state) {
    serial::SerialCommChannel channel;
    for (auto _ : state) {
        benchmark::DoNotOptimize(channel.findUsbDevice());
    }
}
BENCHMARK(Step_discovery)->Unit(benchmark::kMillisecond);

void Step_open(benchmark::State& state) {
    serial::SerialCommChannel channel;
    const std::string path = channel.findUsbDevice().value_or("");
    for (auto _ : state) {
        benchmark::DoNotOptimize(channel.openSerial(path));
        channel.disconnect_client();  // open, so no pause
    }
    channel.openSerial(path);  // the destructor's pause is not ours to time
}
BENCHMARK(Step_open)->Unit(benchmark::kMillisecond);

// Building and sending the request (pause taken out), then receiving the reply.
void Step_send_receive(benchmark::State& state) {
    serial::SerialCommChannel channel;
    int session = 0;
    double send = 0;
    double receive = 0;
    for (auto _ : state) {
        channel.connect_client();
        const double pausedBefore = g_pausedSeconds;
        const Clock::time_point start = Clock::now();
        zeph::Message request("ConsultarSAT", "3");
        request.addHeader("drs-version", "01.00.01.001");
        char body[16];
        std::snprintf(body, sizeof body, "%06d", ++session);
        request.setBody(body);
        request.compress();
        channel.send_data(request);
        const Clock::time_point sent = Clock::now();
        zeph::Message reply;
        const int status = channel.receive_data("ConsultarSAT", reply, 6000);
        const Clock::time_point received = Clock::now();
        channel.disconnect_client();
        if (status != 0) {
            state.SkipWithError("the simulator did not answer");
            break;
        }
        const double sendOnly = seconds(sent - start) - (g_pausedSeconds - pausedBefore);
        send += sendOnly;
        receive += seconds(received - sent);
        state.SetIterationTime(sendOnly + seconds(received - sent));
    }
    state.counters["send_ms"] = benchmark::Counter(send * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["receive_ms"] =
        benchmark::Counter(receive * 1e3, benchmark::Counter::kAvgIterations);
    channel.connect_client();
}
BENCHMARK(Step_send_receive)->UseManualTime()->Unit(benchmark::kMillisecond);

// One log line; a call writes six.
void Step_log_line(benchmark::State& state) {
    for (auto _ : state) {
        LogDebug::obtemReferencia()->saveLog(
            "info", "txCode: ConsultarSAT txSessao:000001 txBufferSize:6");
    }
}
BENCHMARK(Step_log_line)->Unit(benchmark::kMicrosecond);

// Process resources across 1,000 calls; the pauses are skipped here, they
// hold no resources.
void Resources_1000_calls(benchmark::State& state) {
    for (auto _ : state) {
        g_skipPauses = true;
        for (int session = 1; session <= 1000; ++session) {
            driver().ConsultarSAT(session);
            if (session == 10) {
                state.counters["rss_kB_at_10"] = statusField("VmRSS:");
                state.counters["fds_at_10"] = openDescriptors();
            }
        }
        state.counters["rss_kB_at_1000"] = statusField("VmRSS:");
        state.counters["fds_at_1000"] = openDescriptors();
        state.counters["status"] = driver().CodigoErro();
        g_skipPauses = false;
    }
}
BENCHMARK(Resources_1000_calls)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // The driver logs below its working directory.
    char scratch[] = "/tmp/satvaro-bench-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch);
    return 0;
}
