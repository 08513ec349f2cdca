// satvaro-hub's front door under hostile load: the program itself, in a
// process of its own, on the simulated device, with addresses of this
// program's own network namespace (run as root):
//
//   sim/satvaro-harness --sim-arg --activated -- unshare -n -- build/bin/bench_hub_front
//
// 192.0.2.3 is a stranger (closed at accept), 192.0.2.2 an allowed client
// that holds connections open, 192.0.2.4 the till whose calls are timed.
// Each figure is set against one taken in the same run: a till's call under
// attack against the same call with nobody else about, and the hub's memory
// and threads before and after.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "HubClient.h"
#include "ProcessResources.h"
#include "Timing.h"

extern char** environ;

namespace {

const char STRANGER[] = "192.0.2.3";
const char HOLDER[] = "192.0.2.2";
const char TILL[] = "192.0.2.4";

// satvaro-hub as a child process, its log drained by a thread of its own.
class HubProcess {
public:
    explicit HubProcess(const std::string& directory) {
        const std::string config = directory + "/hub.conf";
        std::ofstream(config) << "activation_code = 12345678\nport = 0\nlisten = 0.0.0.0\n"
                              << "allow = " << HOLDER << " " << TILL
                              << "\nstate_dir = " << directory << "\nwork_dir = " << directory
                              << "\n";
        std::filesystem::permissions(
            config, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        int log[2];
        if (::pipe(log) != 0) {
            std::exit(1);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, log[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, log[0]);
        const char* const argv[] = {SATVARO_HUB_PATH, "--config", config.c_str(), nullptr};
        if (posix_spawn(&m_pid, SATVARO_HUB_PATH, &actions, nullptr, const_cast<char* const*>(argv),
                        environ) != 0) {
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(log[1]);
        m_log = fdopen(log[0], "r");
        char line[1024];
        while (m_port == 0 && std::fgets(line, sizeof line, m_log) != nullptr) {
            if (const char* const port = std::strstr(line, " port ")) {
                m_port = std::atoi(port + 6);
            }
        }
        m_drain = std::thread([this] {
            char rest[1024];
            while (std::fgets(rest, sizeof rest, m_log) != nullptr) {
            }
        });
    }
    ~HubProcess() {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_drain.join();
        std::fclose(m_log);
    }

    int port() const { return m_port; }
    // A field of its /proc/<pid>/status, e.g. "VmRSS" (kB) or "Threads".
    long status(const std::string& field) const {
        return statusField(field, std::to_string(m_pid));
    }

private:
    pid_t m_pid = -1;
    FILE* m_log = nullptr;
    int m_port = 0;
    std::thread m_drain;
};

HubProcess* g_hub = nullptr;

// A connection to the hub from `source`; -1 when refused.
int connectFrom(const char* source) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, source, &address.sin_addr);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    address.sin_port = htons(static_cast<uint16_t>(g_hub->port()));
    inet_pton(AF_INET, "192.0.2.1", &address.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool sendAll(int fd, const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

// Clients that take the hub's connections and give it nothing to do: idle
// ones, and heads that grow a byte every 100 ms. Each reconnects when closed,
// the idle ones once a second.
class Attack {
public:
    void idle(const char* source, int connections) {
        m_threads.emplace_back([this, source, connections] {
            std::vector<int> open(connections, -1);
            while (!m_stop) {
                for (int& fd : open) {
                    char byte = 0;
                    if (fd >= 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) {
                        ::close(fd);
                        fd = -1;
                    }
                    fd = fd < 0 ? connectFrom(source) : fd;
                }
                std::this_thread::sleep_for(std::chrono::seconds(1));
            }
            closeAll(open);
        });
    }
    void slowHeads(const char* source, int connections) {
        m_threads.emplace_back([this, source, connections] {
            std::vector<int> open(connections, -1);
            while (!m_stop) {
                for (int& fd : open) {
                    if (fd < 0 && (fd = connectFrom(source)) >= 0) {
                        sendAll(fd, "POST /hub/v1/consultarsat HTTP/1.1\r\nX-Slow: ");
                    } else if (fd >= 0 && !sendAll(fd, "a")) {
                        ::close(fd);
                        fd = -1;
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            closeAll(open);
        });
    }
    ~Attack() {
        m_stop = true;
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }

private:
    static void closeAll(const std::vector<int>& fds) {
        for (const int fd : fds) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

double tillCall() {
    const Clock::time_point start = Clock::now();
    const HubReply reply = callHub(g_hub->port(), "consultarsat", {{"numero_caixa", "4"}}, TILL);
    return reply.status == 200 ? millisecondsSince(start) : -1;
}

// A till's ConsultarSAT while strangers and an allowed client hold
// connections, against the same call with nobody about.
void Till_served_under_attack(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<double> quiet;
        std::vector<double> attacked;
        for (int call = 0; call < 10; ++call) {
            quiet.push_back(tillCall());
        }
        {
            Attack attack;
            attack.idle(STRANGER, 1000);
            attack.slowHeads(STRANGER, 200);
            attack.idle(HOLDER, 100);
            std::this_thread::sleep_for(std::chrono::seconds(2));  // all of it under way
            for (int call = 0; call < 10; ++call) {
                attacked.push_back(tillCall());
            }
            state.counters["hub_threads"] = g_hub->status("Threads");
        }
        if (*std::min_element(quiet.begin(), quiet.end()) < 0 ||
            *std::min_element(attacked.begin(), attacked.end()) < 0) {
            state.SkipWithError("a call failed");
            return;
        }
        state.counters["quiet_ms"] = median(quiet);
        state.counters["attacked_ms"] = median(attacked);
        state.counters["extra_ms"] = median(attacked) - median(quiet);
    }
}
BENCHMARK(Till_served_under_attack)->Iterations(1)->Unit(benchmark::kSecond);

// 100 MB of header lines, half from the stranger, half from the allowed
// client: the hub's resident memory before and after.
void Header_flood(benchmark::State& state) {
    const std::string line = "X-Flood: " + std::string(1000, 'a') + "\r\n";
    for (auto _ : state) {
        const long before = g_hub->status("VmRSS");
        std::size_t sent = 0;
        std::size_t connections = 0;
        for (int turn = 0; sent < 100u * 1000 * 1000; ++turn) {
            const int fd = connectFrom(turn % 2 == 0 ? STRANGER : HOLDER);
            ++connections;
            if (fd < 0) {
                continue;
            }
            sendAll(fd, "POST /hub/v1/consultarsat HTTP/1.1\r\n");
            while (sendAll(fd, line)) {
                sent += line.size();
            }
            sent += line.size();  // what the refused send still took in part
            ::close(fd);
        }
        state.counters["connections"] = static_cast<double>(connections);
        state.counters["rss_growth_kB"] = static_cast<double>(g_hub->status("VmRSS") - before);
        state.counters["rss_kB"] = static_cast<double>(g_hub->status("VmRSS"));
    }
}
BENCHMARK(Header_flood)->Iterations(1)->Unit(benchmark::kSecond);

// 50 tills, two calls each, all at once: every call answered; the hub's
// threads (sampled while they wait) and memory.
void Fifty_tills(benchmark::State& state) {
    for (auto _ : state) {
        std::atomic<int> answered{0};
        std::atomic<bool> done{false};
        long mostThreads = 0;
        std::thread sampler([&] {
            while (!done) {
                mostThreads = std::max(mostThreads, g_hub->status("Threads"));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
        std::vector<std::thread> tills;
        for (int till = 10; till < 60; ++till) {
            tills.emplace_back([&, till] {
                for (int call = 0; call < 2; ++call) {
                    const HubReply reply = callHub(g_hub->port(), "consultarsat",
                                                   {{"numero_caixa", std::to_string(till)}}, TILL);
                    answered += reply.status == 200 ? 1 : 0;
                }
            });
        }
        for (std::thread& till : tills) {
            till.join();
        }
        done = true;
        sampler.join();
        state.counters["answered"] = answered.load();
        state.counters["most_hub_threads"] = static_cast<double>(mostThreads);
        state.counters["rss_kB"] = static_cast<double>(g_hub->status("VmRSS"));
    }
}
BENCHMARK(Fifty_tills)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    // This program's own network namespace: its loopback and addresses.
    if (std::system("ip link set lo up && for h in 1 2 3 4; do ip addr add 192.0.2.$h/32 dev lo; "
                    "done") != 0) {
        std::fprintf(stderr, "bench_hub_front: run it as root inside `unshare -n`\n");
        return 1;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    char scratch[] = "/tmp/satvaro-bench-hub-front-XXXXXX";
    if (mkdtemp(scratch) == nullptr) {
        return 1;
    }
    int status = 0;
    {
        HubProcess hub(scratch);
        g_hub = &hub;
        benchmark::Initialize(&argc, argv);
        status = benchmark::RunSpecifiedBenchmarks() > 0 ? 0 : 1;
        benchmark::Shutdown();
    }
    std::filesystem::remove_all(scratch);
    return status;
}
