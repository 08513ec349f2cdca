// The conditions that stop a store, judged from what the hub knows of its
// device and its journal: a certificate about to expire or expired, a
// device clock far from this machine's, CF-e left untransmitted for a day,
// a blocked or unreachable device, calls whose outcome nobody knows.
#ifndef SATVARO_HUB_ALERTS_H
#define SATVARO_HUB_ALERTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "hub/DeviceStatus.h"

namespace hub {

struct Alert {
    const char* name;      // e.g. "certificate_expiring"
    const char* severity;  // "critical" or "warning"
    std::string text;      // what the page and the log say
};

struct AlertInputs {
    const DeviceStatus* status = nullptr;  // the device's last status; null before any
    // Since when (seconds since the epoch) every status query found CF-e
    // pending transmission; 0 when the last one found none.
    std::int64_t pendingSince = 0;
    bool unreachable = false;  // the last device call found no device, a failed line or no reply
    long unknownOutcomes = 0;  // journal rows desconhecida, not acknowledged
};

// The alerts active at `now` (seconds since the epoch), the critical first.
std::vector<Alert> activeAlerts(const AlertInputs& inputs, std::int64_t now);

// Every alert's name, active or not.
const std::vector<const char*>& alertNames();

}  // namespace hub

#endif
