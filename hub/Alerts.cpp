#include "hub/Alerts.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace hub {

namespace {

constexpr std::int64_t DAY_SECONDS = 24 * 60 * 60;
constexpr std::int64_t CERTIFICATE_NOTICE_SECONDS = 30 * DAY_SECONDS;
constexpr std::int64_t CLOCK_TOLERANCE_SECONDS = 5 * 60;
constexpr std::int64_t PENDING_TOLERANCE_SECONDS = DAY_SECONDS;

constexpr char CRITICAL[] = "critical";
constexpr char WARNING[] = "warning";

void judgeCertificate(const DeviceStatus& status, std::int64_t now, std::vector<Alert>& alerts) {
    if (status.certificateExpiry == 0) {
        return;
    }
    const std::int64_t left = status.certificateExpiry - now;
    if (left < 0) {
        alerts.push_back({"certificate_expired", CRITICAL,
                          "the device's certificate expired on " +
                              isoDeviceTime(status.certificateExpires) + ": it cannot issue CF-e"});
    } else if (left < CERTIFICATE_NOTICE_SECONDS) {
        alerts.push_back({"certificate_expiring", WARNING,
                          "the device's certificate expires on " +
                              isoDeviceTime(status.certificateExpires) + ", in " +
                              std::to_string(left / DAY_SECONDS) + " days"});
    }
}

void judgeClock(const DeviceStatus& status, std::vector<Alert>& alerts) {
    const std::int64_t offset = status.clockOffsetSeconds;
    if (std::llabs(offset) > CLOCK_TOLERANCE_SECONDS) {
        alerts.push_back({"clock_off", WARNING,
                          "the device's clock is " + std::to_string(std::llabs(offset) / 60) +
                              " minutes " + (offset > 0 ? "ahead of" : "behind") +
                              " this machine's"});
    }
}

}  // namespace

const std::vector<const char*>& alertNames() {
    static const std::vector<const char*> names = {
        "certificate_expired",  "device_blocked", "device_unreachable", "unknown_outcomes",
        "certificate_expiring", "clock_off",      "cfe_pending"};
    return names;
}

std::vector<Alert> activeAlerts(const AlertInputs& inputs, std::int64_t now) {
    std::vector<Alert> alerts;
    if (inputs.unreachable) {
        alerts.push_back({"device_unreachable", CRITICAL,
                          "the device did not answer its last call (no device, a failed line or "
                          "no reply)"});
    }
    if (inputs.unknownOutcomes > 0) {
        alerts.push_back({"unknown_outcomes", CRITICAL,
                          std::to_string(inputs.unknownOutcomes) +
                              " calls may have reached the device and nobody knows their "
                              "outcome: check them, then satvaro-hub acknowledge SESSION"});
    }
    if (const DeviceStatus* const status = inputs.status) {
        if (status->blocked) {
            alerts.push_back({"device_blocked", CRITICAL,
                              "the device is blocked (operating state " +
                                  std::to_string(status->operatingState) + ")"});
        }
        judgeCertificate(*status, now, alerts);
        judgeClock(*status, alerts);
        if (inputs.pendingSince != 0 && now - inputs.pendingSince >= PENDING_TOLERANCE_SECONDS) {
            alerts.push_back({"cfe_pending", WARNING,
                              std::to_string(status->pendingCfe) +
                                  " CF-e wait for transmission, and have for over a day"});
        }
    }
    std::stable_sort(alerts.begin(), alerts.end(), [](const Alert& a, const Alert& b) {
        return std::string_view(a.severity) == CRITICAL && std::string_view(b.severity) != CRITICAL;
    });
    return alerts;
}

}  // namespace hub
