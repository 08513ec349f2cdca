// The simulated SAT device serving this test process: satvaro-harness
// starts it and passes its state directory in SATVARO_SIM_DIR. Tests read
// what reached the device from its journal and switch its faults on (see
// sim/README.md for the fault lines).
#ifndef SATVARO_TESTS_SUPPORT_SIMDEVICE_H
#define SATVARO_TESTS_SUPPORT_SIMDEVICE_H

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

// One request as the device received it.
struct SimRequest {
    std::string code;  // the command name
    std::string body;  // the body, uncompressed
    std::string wire;  // the message's bytes as they came over the line
    std::chrono::steady_clock::time_point received;  // when its last byte came
};

class SimDevice {
public:
    // The device of the harness this process runs under.
    SimDevice();

    // False outside the harness (no SATVARO_SIM_DIR).
    bool available() const { return !m_dir.empty(); }

    // Replaces the fault lines, e.g. "next delay 500\nConsultarSAT badcrc".
    // The device never sees a half-written file.
    bool setFaults(const std::string& lines) const;
    // What is left of the fault lines ("next" lines go once used).
    std::string faults() const;

    // Every request so far, in arrival order.
    std::vector<SimRequest> requests() const;
    std::size_t requestCount() const;

    // Waits until at least `count` requests arrived, at most `timeout`.
    bool waitForRequests(std::size_t count,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    std::string requestsDir() const { return m_dir + "/requests"; }
    std::vector<std::string> entries() const;
    SimRequest record(const std::string& name) const;

    std::string m_dir;
};

#endif
