// The driver's own cost per command call: ConsultarSAT through the exported
// function of the built library, against the simulator answering at once
// (run under the harness). Every call spends 1.1 s in the pauses the device
// needs (100 ms after sending, 1 s when the closed channel is destroyed);
// this program defines usleep itself, so that the library's pauses come here
// and their real length is taken out of each call's wall time. What is left
// is the driver's overhead; popen/pclose are timed the same way for the
// discovery, and the step benchmarks break down the rest.
//
//   sim/satvaro-harness -- build/bin/bench_commands
#include <dlfcn.h>
#include <stdlib.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "LoadedDriver.h"
#include "ProcessResources.h"
#include "codec/Message.h"
#include "log/logdebug.h"
#include "serial/SerialCommChannel.h"

namespace {

using Clock = std::chrono::steady_clock;

thread_local double g_pausedSeconds = 0;     // time this thread spent in the pauses
bool g_skipPauses = false;                   // for the long resource run: no pacing at all
thread_local double g_discoverySeconds = 0;  // spent finding the device node
thread_local Clock::time_point g_discoveryStart;

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

}  // namespace

// These three stand in for the C library's own for the whole process, the
// loaded driver included (the executable exports them), to time the pauses
// and the discovery (a shell pipeline) inside real calls.
template <typename Function>
Function cLibrary(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

extern "C" __attribute__((visibility("default"))) FILE* popen(const char* command,
                                                              const char* mode) {
    static const auto realPopen = cLibrary<FILE* (*)(const char*, const char*)>("popen");
    g_discoveryStart = Clock::now();
    return realPopen(command, mode);
}

extern "C" __attribute__((visibility("default"))) int pclose(FILE* stream) {
    static const auto realPclose = cLibrary<int (*)(FILE*)>("pclose");
    const int result = realPclose(stream);
    g_discoverySeconds += seconds(Clock::now() - g_discoveryStart);
    return result;
}

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
    static const auto realUsleep = cLibrary<int (*)(useconds_t)>("usleep");
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

// Whole calls: wall time minus the time spent pausing; of that, the time
// spent in discovery and the rest.
void ConsultarSAT_overhead(benchmark::State& state) {
    int session = 0;
    for (auto _ : state) {
        const double pausedBefore = g_pausedSeconds;
        const double discoveryBefore = g_discoverySeconds;
        const Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(driver().ConsultarSAT(++session));
        const double wall = seconds(Clock::now() - start);
        const double paused = g_pausedSeconds - pausedBefore;
        const double discovery = g_discoverySeconds - discoveryBefore;
        if (driver().CodigoErro() != 0) {
            state.SkipWithError("the simulator did not answer");
            break;
        }
        state.SetIterationTime(wall - paused);
        state.counters["paused_s"] = paused;
        state.counters["discovery_ms"] = discovery * 1e3;
        state.counters["rest_ms"] = (wall - paused - discovery) * 1e3;
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
BENCHMARK(Step_send_receive)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

// One log line; a call writes six.
void Step_log_line(benchmark::State& state) {
    for (auto _ : state) {
        LogDebug::obtemReferencia()->saveLog("info",
                                             "txCode: ConsultarSAT txSessao:000001 txBufferSize:6");
    }
}
BENCHMARK(Step_log_line)->Unit(benchmark::kMicrosecond);

// Reserving the device when no other caller wants it: what keeping callers
// apart adds to every call (the turn in this process, the lock file and its
// lock, taken and given back).
void Step_reserve_device(benchmark::State& state) {
    serial::SerialCommChannel channel;
    const std::string path = channel.findUsbDevice().value_or("");
    for (auto _ : state) {
        serial::DeviceLock lock;
        benchmark::DoNotOptimize(lock.acquire(path, serial::Deadline(6000)));
    }
    channel.openSerial(path);  // the destructor's pause is not ours to time
}
BENCHMARK(Step_reserve_device)->Unit(benchmark::kMicrosecond);

// Host threads sharing the device, with its pacing: they get through as
// many calls per second as one thread does, since the device takes one
// exchange at a time, and in the order they came. A call's time over the
// average time between two answers counts the calls it waited for, itself
// included: with N threads calling back to back, N at most.
void Callers_sharing_the_device(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const int calls = 12;
    for (auto _ : state) {
        std::vector<double> callSeconds(calls);
        std::atomic<int> failures{0};
        const Clock::time_point start = Clock::now();
        std::vector<std::thread> callers;
        for (int t = 0; t < threads; ++t) {
            callers.emplace_back([&, t] {
                for (int i = t; i < calls; i += threads) {
                    const Clock::time_point called = Clock::now();
                    driver().ConsultarSAT(1000 + i);
                    callSeconds[i] = seconds(Clock::now() - called);
                    failures += driver().CodigoErro() != 0;
                }
            });
        }
        for (std::thread& caller : callers) {
            caller.join();
        }
        const double wall = seconds(Clock::now() - start);
        if (failures != 0) {
            state.SkipWithError("the simulator did not answer");
            break;
        }
        state.counters["calls_per_s"] = calls / wall;
        state.counters["longest_call_in_answers"] =
            *std::max_element(callSeconds.begin(), callSeconds.end()) / (wall / calls);
    }
}
BENCHMARK(Callers_sharing_the_device)
    ->Arg(1)
    ->Arg(4)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

// Process resources across 1,000 calls; the pauses are skipped here, they
// hold no resources.
void Resources_1000_calls(benchmark::State& state) {
    for (auto _ : state) {
        g_skipPauses = true;
        for (int session = 1; session <= 1000; ++session) {
            driver().ConsultarSAT(session);
            if (session == 10 || session == 100 || session == 1000) {
                const std::string after = "_at_" + std::to_string(session);
                state.counters["rss_kB" + after] = residentKb();
                state.counters["fds" + after] = openDescriptors();
            }
        }
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
