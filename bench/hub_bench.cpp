// satvaro-hub's cost per call: the hub's round trip (an HTTP request on a
// fresh connection, as point-of-sale clients make them) beside the direct
// library call, in the same run, against the simulator (run it under the
// harness):
//
//   sim/satvaro-harness --sim-arg --activated -- build/bin/bench_hub
//
// Both paths make the same library call, a sale of examples/venda.xml. The
// device's pauses (1.1 s per call) are skipped but in the paced run of the
// eight tills: this program stands in for usleep. The pauses hold nothing;
// unpaced, the calls are short enough for the two shared cores to run out
// while the tills, the hub and the simulator all want them.
#include <curl/curl.h>
#include <dlfcn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HubClient.h"
#include "hub/ActivationCode.h"
#include "hub/Hub.h"
#include "hub/HubConfig.h"
#include "hub/SessionNumbers.h"
#include "satvaro.h"

namespace {
bool g_paced = false;
}

extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
    static const auto realUsleep =
        reinterpret_cast<int (*)(useconds_t)>(dlsym(RTLD_NEXT, "usleep"));
    return g_paced ? realUsleep(microseconds) : 0;
}

namespace {

using Clock = std::chrono::steady_clock;

const char CODE[] = "12345678";
constexpr int TILLS = 8;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

const std::string& sale() {
    static const std::string document = [] {
        std::ifstream file(SATVARO_SOURCE_DIR "/examples/venda.xml");
        return std::string(std::istreambuf_iterator<char>(file), {});
    }();
    return document;
}

// The hub in this process, on a port of its own, its state and the driver's
// log in a scratch directory.
class RunningHub {
public:
    explicit RunningHub(const std::string& directory)
        : m_sessions(directory),
          m_code(CODE, directory + "/activation-code"),
          m_hub(configured(directory), m_sessions, m_code) {
        std::string error;
        if (!m_hub.bind(error)) {
            std::fprintf(stderr, "bench_hub: %s\n", error.c_str());
            std::exit(1);
        }
        m_server = std::thread([this] {
            std::string failure;
            m_hub.serve(failure);
        });
    }
    ~RunningHub() {
        m_hub.stop();
        m_server.join();
    }

    int port() const { return m_hub.port(); }

private:
    const hub::HubConfig& configured(const std::string& directory) {
        m_config.activationCode = CODE;
        m_config.port = 0;
        m_config.stateDir = m_config.workDir = directory;
        return m_config;
    }

    hub::HubConfig m_config;
    hub::SessionNumbers m_sessions;
    hub::ActivationCode m_code;
    hub::Hub m_hub;
    std::thread m_server;
};

RunningHub* g_hub = nullptr;

// One sale straight through the library; its time in ms, or -1 on failure.
double directSale() {
    static int session = 0;
    const Clock::time_point start = Clock::now();
    EnviarDadosVenda(++session, CODE, sale().c_str());
    return CodigoErro() == 0 ? millisecondsSince(start) : -1;
}

// One sale of `till` through the hub; its round trip in ms, or -1.
double hubSale(int till) {
    const Clock::time_point start = Clock::now();
    const HubReply reply = callHub(g_hub->port(), "enviardadosvenda",
                                   {{"numero_caixa", std::to_string(till)}, {"dados_venda", sale()}});
    const bool served =
        reply.status == 200 && reply.body.find("\"codigo_erro\":0") != std::string::npos;
    return served ? millisecondsSince(start) : -1;
}

// The hub's round trip minus the direct call, one of each in turn.
void Overhead_per_sale(benchmark::State& state) {
    std::vector<double> direct;
    std::vector<double> viaHub;
    for (auto _ : state) {
        direct.push_back(directSale());
        viaHub.push_back(hubSale(1));
        if (direct.back() < 0 || viaHub.back() < 0) {
            state.SkipWithError("a sale failed");
            return;
        }
        state.SetIterationTime((viaHub.back() - direct.back()) / 1e3);
    }
    state.counters["direct_ms"] = median(direct);
    state.counters["hub_ms"] = median(viaHub);
    state.counters["overhead_ms"] = median(viaHub) - median(direct);
}
BENCHMARK(Overhead_per_sale)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// Eight tills selling at once through the hub against the same sales made
// one after the other straight through the library; argument: the sales of
// each till, paced when fewer than 10.
void Eight_tills(benchmark::State& state) {
    const int salesPerTill = static_cast<int>(state.range(0));
    g_paced = salesPerTill < 10;
    for (auto _ : state) {
        std::vector<double> direct;
        const Clock::time_point serialStart = Clock::now();
        for (int call = 0; call < TILLS * salesPerTill; ++call) {
            direct.push_back(directSale());
        }
        const double serialMs = millisecondsSince(serialStart);

        std::mutex mutex;
        std::vector<double> waits;
        std::vector<std::thread> tills;
        const Clock::time_point start = Clock::now();
        for (int till = 1; till <= TILLS; ++till) {
            tills.emplace_back([&, till] {
                for (int sale = 0; sale < salesPerTill; ++sale) {
                    const double wait = hubSale(till);
                    const std::lock_guard<std::mutex> lock(mutex);
                    waits.push_back(wait);
                }
            });
        }
        for (std::thread& till : tills) {
            till.join();
        }
        const double hubMs = millisecondsSince(start);
        if (*std::min_element(waits.begin(), waits.end()) < 0 ||
            *std::min_element(direct.begin(), direct.end()) < 0) {
            state.SkipWithError("a sale failed");
            return;
        }
        const double longest = *std::max_element(waits.begin(), waits.end());
        state.counters["direct_sales_per_s"] = 1e3 * direct.size() / serialMs;
        state.counters["hub_sales_per_s"] = 1e3 * waits.size() / hubMs;
        state.counters["throughput_ratio"] = serialMs / hubMs;
        state.counters["longest_wait_ms"] = longest;
        // At most the other seven tills' calls queue before a call, and then
        // it takes its own turn: eight device calls.
        state.counters["longest_wait_in_calls"] = longest / median(direct);
    }
    g_paced = false;
}
BENCHMARK(Eight_tills)->Arg(10)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    char scratch[] = "/tmp/satvaro-bench-hub-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
        return 1;
    }
    int status = 0;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    {
        RunningHub running(scratch);
        g_hub = &running;
        benchmark::Initialize(&argc, argv);
        status = benchmark::RunSpecifiedBenchmarks() > 0 ? 0 : 1;
        benchmark::Shutdown();
    }
    std::filesystem::remove_all(scratch);
    return status;
}
