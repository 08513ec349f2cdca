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
#include <fcntl.h>
#include <sqlite3.h>
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
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HubClient.h"
#include "Timing.h"
#include "hub/ActivationCode.h"
#include "hub/CallRecord.h"
#include "hub/Hub.h"
#include "hub/HubConfig.h"
#include "hub/Journal.h"
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

const char CODE[] = "12345678";
constexpr int TILLS = 8;

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
        : m_code(CODE, directory + "/activation-code"),
          m_hub(configured(directory), m_journal, m_code) {
        std::string error;
        if (!m_journal.open(directory, error) || !m_hub.bind(error)) {
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
    hub::Journal m_journal;
    hub::ActivationCode m_code;
    hub::Hub m_hub;
    std::thread m_server;
};

RunningHub* g_hub = nullptr;
std::string g_scratch;

// A sale's reply as the device gives it: its CF-e in Base64 is most of it.
std::string saleReply() {
    const std::string reply = EnviarDadosVenda(900000, CODE, sale().c_str());
    return CodigoErro() == 0 ? reply : std::string(7000, 'x');
}

// The journal's size once its write-ahead log is folded in.
double journalBytes(const std::string& directory) {
    sqlite3* database = nullptr;
    sqlite3_open((directory + "/journal.sqlite").c_str(), &database);
    sqlite3_exec(database, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(database);
    return static_cast<double>(std::filesystem::file_size(directory + "/journal.sqlite"));
}

// One flush of 4 KiB written to a file in `directory`: what the disk takes
// for the least a durable step can cost; in ms.
double flushMilliseconds(const std::string& directory) {
    const int fd = ::open((directory + "/flush").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const std::string page(4096, 'f');
    const Clock::time_point start = Clock::now();
    const bool flushed = ::pwrite(fd, page.data(), page.size(), 0) == 4096 && ::fdatasync(fd) == 0;
    const double elapsed = millisecondsSince(start);
    ::close(fd);
    return flushed ? elapsed : -1;
}

// `calls` more answered sales of tills 0 to 999 in the journal of
// `directory`, as one transaction.
void fillJournal(const std::string& directory, int calls) {
    sqlite3* database = nullptr;
    sqlite3_open((directory + "/journal.sqlite").c_str(), &database);
    sqlite3_busy_timeout(database, 10000);
    const std::string fill =
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
        std::to_string(calls) +
        ") INSERT INTO calls(till, session, function, digest, state, received, sent, answered, "
        "delivered, reply, status) SELECT i % 1000, 100000 + 900 * (i % 1000) + i % 900, "
        "'EnviarDadosVenda', 'd', 'respondida', 1, 2, 3, 4, randomblob(7000), 0 FROM n";
    sqlite3_exec(database, fill.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(database);
}

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
    const HubReply reply =
        callHub(g_hub->port(), "enviardadosvenda",
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

// A call's own steps in a journal of its own (on the same file system as
// the hub's): queued, at the device (flushed), settled with a sale's reply
// (flushed), delivered; beside one flush of a page in the same iterations.
// Also the journal's size per sale.
void Journal_steps_per_call(benchmark::State& state) {
    const std::string directory = g_scratch + "/steps";
    std::filesystem::create_directory(directory);
    hub::Journal journal;
    std::string error;
    if (!journal.open(directory, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::string reply = saleReply();
    const double emptyBytes = journalBytes(directory);
    std::vector<double> steps;
    std::vector<double> flushes;
    for (auto _ : state) {
        flushes.push_back(flushMilliseconds(directory));
        const Clock::time_point start = Clock::now();
        hub::CallRecord call;
        call.till = 1;
        call.function = "EnviarDadosVenda";
        call.digest = std::string(64, 'd');
        journal.queue(call, hub::recordTime());
        journal.markAtDevice(call.id, hub::recordTime());
        call.state = hub::CallState::ANSWERED;
        call.reply = reply;
        call.status = 0;
        journal.settle(call, hub::recordTime());
        journal.markDelivered(call.id, hub::recordTime());
        steps.push_back(millisecondsSince(start));
        state.SetIterationTime(steps.back() / 1e3);
    }
    state.counters["median_ms"] = median(steps);
    state.counters["flush_ms"] = median(flushes);
    state.counters["in_flushes"] = median(steps) / median(flushes);
    state.counters["bytes_per_sale"] =
        (journalBytes(directory) - emptyBytes) / static_cast<double>(steps.size());
}
BENCHMARK(Journal_steps_per_call)->UseManualTime()->Iterations(200)->Unit(benchmark::kMillisecond);

// ultimachamada, and consultarnumerosessao for one of the till's own
// sessions, answered from a journal of 100,000 calls: medians of 100.
void Journal_answers_among_100000_calls(benchmark::State& state) {
    fillJournal(g_scratch, 100000);
    std::vector<double> lastCall;
    std::vector<double> ownSession;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        const HubReply last = callHub(g_hub->port(), "ultimachamada", {{"numero_caixa", "1"}});
        lastCall.push_back(millisecondsSince(start));
        const std::string session = last.body.substr(last.body.find("\"numero_sessao\":") + 16, 6);
        start = Clock::now();
        const HubReply own = callHub(g_hub->port(), "consultarnumerosessao",
                                     {{"numero_caixa", "1"}, {"numero_sessao", session}});
        ownSession.push_back(millisecondsSince(start));
        if (last.status != 200 || own.status != 200) {
            state.SkipWithError("not answered");
            return;
        }
    }
    state.counters["ultimachamada_ms"] = median(lastCall);
    state.counters["consultarnumerosessao_ms"] = median(ownSession);
}
BENCHMARK(Journal_answers_among_100000_calls)->Iterations(100)->Unit(benchmark::kMillisecond);

// The status page, its JSON and the metrics with 1000 tills seen (a call of
// each) and the journal of 100,000 calls above: medians of 100 of each; no
// device call.
void Status_with_1000_tills(benchmark::State& state) {
    for (int till = 0; till < 1000; ++till) {
        callHub(g_hub->port(), "consultarsat", {{"numero_caixa", std::to_string(till)}});
    }
    std::map<std::string, std::vector<double>> times;
    for (auto _ : state) {
        for (const char* const path : {"status", "status.json", "metrics"}) {
            const Clock::time_point start = Clock::now();
            const HubReply reply = getFromHub(g_hub->port(), path);
            times[path].push_back(millisecondsSince(start));
            if (reply.status != 200) {
                state.SkipWithError(path);
                return;
            }
        }
    }
    for (const auto& [path, measured] : times) {
        state.counters[path + "_ms"] = median(measured);
    }
}
BENCHMARK(Status_with_1000_tills)->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    char scratch[] = "/tmp/satvaro-bench-hub-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0) {
        return 1;
    }
    int status = 0;
    curl_global_init(CURL_GLOBAL_DEFAULT);
    g_scratch = scratch;
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
