// What the store can see of its hub and device: the device's last status,
// the queue, each till's calls today, the hub itself, and the alerts, kept
// up to date by the threads that serve the calls. It renders them as the
// status page's data (JSON) and as Prometheus metrics, and logs one line
// when each alert begins and when it ends.
#ifndef SATVARO_HUB_STATUSBOARD_H
#define SATVARO_HUB_STATUSBOARD_H

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hub/Alerts.h"
#include "hub/CallRecord.h"
#include "hub/DeviceStatus.h"

namespace hub {

class StatusBoard {
public:
    using Json = nlohmann::ordered_json;

    // Facts about the hub and its journal that others keep.
    struct Outside {
        std::string listen;  // the address and port
        std::size_t queued = 0;
        long journalRows = 0;
        long journalBytes = 0;
    };

    // Times are milliseconds since the epoch.
    explicit StatusBoard(std::int64_t started);

    // The device's thread: a call (a till's, or the hub's own under
    // `function`) goes to the device; it ended with `codigoErro`.
    void atDevice(const std::string& function, int till, int session, std::int64_t now);
    void deviceCallEnded(int codigoErro, std::int64_t now);
    // A status query's answer; null when it failed.
    void deviceStatus(const DeviceStatus* status, std::int64_t now);
    // A till's call is settled; its wait and time at the device, in ms.
    void settled(const CallRecord& call, std::int64_t now);
    // The front's thread: a call waits behind `ahead` others.
    void queued(std::size_t ahead, std::int64_t now);
    // The journal's calls of unknown outcome, not acknowledged, counted anew
    // (a settled call of unknown outcome counts itself).
    void unknownOutcomes(long count, std::int64_t now);

    Json json(const Outside& outside, std::int64_t now);
    std::string metrics(const Outside& outside, std::int64_t now);

private:
    static constexpr std::size_t SAMPLES = 256;  // per till and measure, the latest
    static constexpr std::size_t BUCKETS = 10;

    struct Samples {
        std::vector<std::int64_t> values;
        std::size_t next = 0;
        void add(std::int64_t value);
        Json summary() const;  // median and 95th percentile
    };
    struct TillDay {
        long calls = 0;
        std::string lastFunction;
        std::int64_t lastTime = 0;
        int lastCodigoErro = 0;
        std::string lastResult;  // the reply's EEEEE
        Samples waitMs;
        Samples deviceMs;
        std::map<std::string, long> errors;  // by kind
    };
    struct AtDevice {
        std::string function;
        int till;
        int session;
        std::int64_t since;
    };

    void startDay(std::int64_t now);
    void judgeAlerts(std::int64_t now);
    Json deviceJson() const;

    const std::int64_t m_started;
    std::mutex m_mutex;
    int m_day = -1;  // the local day the tills' figures are of
    std::map<int, TillDay> m_tills;
    std::size_t m_longestQueueToday = 0;
    std::optional<AtDevice> m_atDevice;
    std::optional<DeviceStatus> m_status;
    std::int64_t m_lastQuery = 0;
    bool m_lastQueryFailed = false;
    std::int64_t m_pendingSince = 0;
    int m_lastCodigoErro = 0;
    bool m_unreachable = false;
    long m_unknownOutcomes = 0;
    std::vector<Alert> m_alerts;                        // active, the critical first
    std::map<std::string, std::int64_t> m_alertsSince;  // and since when
    // Since the hub started: calls by function and CodigoErro; their
    // durations from arrival to answer.
    std::map<std::pair<std::string, int>, long> m_calls;
    std::array<long, BUCKETS> m_durationBuckets{};
    double m_durationSum = 0;
    long m_durationCount = 0;
};

}  // namespace hub

#endif
