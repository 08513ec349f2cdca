// What the device says of itself in its ConsultarStatusOperacional reply,
// read into named fields: nothing secret is among them.
#ifndef SATVARO_HUB_DEVICESTATUS_H
#define SATVARO_HUB_DEVICESTATUS_H

#include <cstdint>
#include <string>

namespace hub {

struct DeviceStatus {
    std::string serial;
    std::string networkType;
    std::string address;
    std::string memoryTotal;
    std::string memoryUsed;
    std::string softwareVersion;
    std::string layoutVersion;
    std::string lastCfe;             // the key of the last CF-e issued
    std::string lastCfeTime;         // YYYYMMDDhhmmss
    std::string lastTransmission;    // YYYYMMDDhhmmss
    std::string certificateIssued;   // YYYYMMDD
    std::string certificateExpires;  // YYYYMMDD
    std::string clock;               // the device's, local time: YYYYMMDDhhmmss
    int operatingState = 0;          // 0 in operation; -1 when not a number
    bool blocked = false;            // its operating state is not 0
    long pendingCfe = 0;             // CF-e held untransmitted
    // Seconds since the epoch: the certificate's last valid moment (the end
    // of its expiry day), and when the device was asked.
    std::int64_t certificateExpiry = 0;
    std::int64_t askedAt = 0;
    // The device's clock less this machine's when it answered.
    std::int64_t clockOffsetSeconds = 0;
};

// Reads a ConsultarStatusOperacional reply given at `askedAt` (seconds since
// the epoch, this machine's clock); false when it is not a status (a
// refusal, another result than 10000, too few fields).
bool parseDeviceStatus(const std::string& reply, std::int64_t askedAt, DeviceStatus& status);

// One of the device's times (YYYYMMDD or YYYYMMDDhhmmss, its local time) in
// ISO 8601, without an offset: "2029-01-01", "2024-03-15T10:30:00"; any
// other text as it is.
std::string isoDeviceTime(const std::string& text);

}  // namespace hub

#endif
