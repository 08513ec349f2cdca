#include "hub/DeviceStatus.h"

#include <algorithm>
#include <ctime>
#include <utility>

#include "SatFunctions.h"

namespace hub {

namespace {

// The reply's fields: the session, the result, its message, two codes,
// then the status proper.
enum Field {
    RESULT = 1,
    SERIAL = 5,
    NETWORK_TYPE = 6,
    ADDRESS = 7,
    MEMORY_TOTAL = 15,
    MEMORY_USED = 16,
    CLOCK = 17,
    SOFTWARE_VERSION = 18,
    LAYOUT_VERSION = 19,
    LAST_CFE = 20,
    PENDING_FIRST = 21,
    PENDING_LAST = 22,
    LAST_CFE_TIME = 23,
    LAST_TRANSMISSION = 24,
    CERTIFICATE_ISSUED = 25,
    CERTIFICATE_EXPIRES = 26,
    OPERATING_STATE = 27,
    FIELDS
};
constexpr char STATUS_GIVEN[] = "10000";

// The fields taken as they are.
const std::pair<Field, std::string DeviceStatus::*> TEXT_FIELDS[] = {
    {SERIAL, &DeviceStatus::serial},
    {NETWORK_TYPE, &DeviceStatus::networkType},
    {ADDRESS, &DeviceStatus::address},
    {MEMORY_TOTAL, &DeviceStatus::memoryTotal},
    {MEMORY_USED, &DeviceStatus::memoryUsed},
    {CLOCK, &DeviceStatus::clock},
    {SOFTWARE_VERSION, &DeviceStatus::softwareVersion},
    {LAYOUT_VERSION, &DeviceStatus::layoutVersion},
    {LAST_CFE, &DeviceStatus::lastCfe},
    {LAST_CFE_TIME, &DeviceStatus::lastCfeTime},
    {LAST_TRANSMISSION, &DeviceStatus::lastTransmission},
    {CERTIFICATE_ISSUED, &DeviceStatus::certificateIssued},
    {CERTIFICATE_EXPIRES, &DeviceStatus::certificateExpires},
};
// A CF-e key: 44 digits, its number at 31 to 36.
constexpr std::size_t KEY_DIGITS = 44;
constexpr std::size_t NUMBER_AT = 31;
constexpr std::size_t NUMBER_DIGITS = 6;

// A local time in `format` as seconds since the epoch; 0 when it is not one.
std::int64_t localSeconds(const std::string& text, const char* format) {
    std::tm local{};
    const char* const end = ::strptime(text.c_str(), format, &local);
    if (end == nullptr || *end != '\0') {
        return 0;
    }
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local));
}

// The CF-e number within a key (the key may carry a "CFe" before it).
long numberOf(std::string key) {
    if (key.compare(0, 3, "CFe") == 0) {
        key.erase(0, 3);
    }
    if (key.size() != KEY_DIGITS || key.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stol(key.substr(NUMBER_AT, NUMBER_DIGITS));
}

}  // namespace

bool parseDeviceStatus(const std::string& reply, std::int64_t askedAt, DeviceStatus& status) {
    const auto fields = std::count(reply.begin(), reply.end(), '|') + 1;
    if (fields < FIELDS || replyField(reply, RESULT) != STATUS_GIVEN) {
        return false;
    }
    status = DeviceStatus();
    for (const auto& [field, member] : TEXT_FIELDS) {
        status.*member = replyField(reply, field);
    }
    const std::string state = replyField(reply, OPERATING_STATE);
    const bool number = !state.empty() && state.size() <= 4 &&
                        state.find_first_not_of("0123456789") == std::string::npos;
    status.operatingState = number ? std::stoi(state) : -1;
    status.blocked = status.operatingState != 0;
    const long first = numberOf(replyField(reply, PENDING_FIRST));
    const long last = numberOf(replyField(reply, PENDING_LAST));
    status.pendingCfe = first >= 0 && last >= first ? last - first + 1 : 0;
    const std::int64_t expiryDay = localSeconds(status.certificateExpires, "%Y%m%d");
    status.certificateExpiry = expiryDay != 0 ? expiryDay + 24 * 60 * 60 - 1 : 0;
    status.askedAt = askedAt;
    const std::int64_t deviceClock = localSeconds(status.clock, "%Y%m%d%H%M%S");
    status.clockOffsetSeconds = deviceClock != 0 ? deviceClock - askedAt : 0;
    return true;
}

std::string isoDeviceTime(const std::string& text) {
    if (text.size() != 8 && text.size() != 14) {
        return text;
    }
    std::string iso = text.substr(0, 4) + "-" + text.substr(4, 2) + "-" + text.substr(6, 2);
    if (text.size() == 14) {
        iso += "T" + text.substr(8, 2) + ":" + text.substr(10, 2) + ":" + text.substr(12, 2);
    }
    return iso;
}

}  // namespace hub
