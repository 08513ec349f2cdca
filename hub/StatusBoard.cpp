#include "StatusBoard.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "CallAnswers.h"
#include "SatFunctions.h"
#include "Utf8Text.h"
#include "hub/HubLog.h"
#include "satvaro.h"

namespace hub {

namespace {

using Json = StatusBoard::Json;

// The durations' histogram, in seconds: a sale answers in a second or two,
// an activation may take minutes.
constexpr double BUCKET_BOUNDS[] = {0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30, 60, 300};

// The library's statuses that say the device is out of reach.
bool outOfReach(int codigoErro) {
    return codigoErro == SATVARO_STATUS_PARSE_ERROR || codigoErro == SATVARO_STATUS_READ_ERROR ||
           codigoErro == SATVARO_STATUS_TIMEOUT;
}

std::string errorKind(int codigoErro) {
    switch (codigoErro) {
    case SATVARO_STATUS_PARSE_ERROR:
        return "no_device_or_unreadable_reply";
    case SATVARO_STATUS_READ_ERROR:
        return "line_failure";
    case SATVARO_STATUS_REFUSED:
        return "refused_reply";
    case SATVARO_STATUS_TIMEOUT:
        return "no_reply";
    default:
        return "codigo_erro_" + std::to_string(codigoErro);
    }
}

int localDay(std::int64_t milliseconds) {
    const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return local.tm_year * 1000 + local.tm_yday;
}

// The device's own times in ISO 8601, as they are (local, no offset).
Json deviceTime(const std::string& text) {
    return text.empty() ? Json() : Json(asUtf8(isoDeviceTime(text)));
}

std::string escapedLabel(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        escaped += c == '\\' ? "\\\\" : c == '"' ? "\\\"" : c == '\n' ? "\\n" : std::string(1, c);
    }
    return escaped;
}

void metric(std::string& text, const char* name, const char* type, const char* help) {
    text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

void sample(std::string& text, const std::string& name, double value) {
    char number[32];
    std::snprintf(number, sizeof number, "%.17g", value);
    text += name + " " + number + "\n";
}

// A gauge of one sample.
void gauge(std::string& text, const char* name, const char* help, double value) {
    metric(text, name, "gauge", help);
    sample(text, name, value);
}

}  // namespace

void StatusBoard::Samples::add(std::int64_t value) {
    if (values.size() < SAMPLES) {
        values.push_back(value);
    } else {
        values[next] = value;
    }
    next = (next + 1) % SAMPLES;
}

Json StatusBoard::Samples::summary() const {
    if (values.empty()) {
        return Json{{"median", nullptr}, {"p95", nullptr}};
    }
    std::vector<std::int64_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double share) {
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(share * sorted.size()))];
    };
    return Json{{"median", at(0.5)}, {"p95", at(0.95)}};
}

StatusBoard::StatusBoard(std::int64_t started) : m_started(started) {}

void StatusBoard::startDay(std::int64_t now) {
    const int today = localDay(now);
    if (today != m_day) {
        m_day = today;
        m_tills.clear();
        m_longestQueueToday = 0;
    }
}

void StatusBoard::atDevice(const std::string& function, int till, int session, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_atDevice = AtDevice{function, till, session, now};
}

void StatusBoard::deviceCallEnded(int codigoErro, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_atDevice.reset();
    m_lastCodigoErro = codigoErro;
    m_unreachable = outOfReach(codigoErro);
    judgeAlerts(now);
}

void StatusBoard::deviceStatus(const DeviceStatus* status, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastQuery = now;
    m_lastQueryFailed = status == nullptr;
    if (status != nullptr) {
        m_status = *status;
        m_pendingSince = status->pendingCfe == 0 ? 0
                         : m_pendingSince != 0   ? m_pendingSince
                                                 : status->askedAt;
    }
    judgeAlerts(now);
}

void StatusBoard::settled(const CallRecord& call, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    startDay(now);
    TillDay& day = m_tills[call.till];
    ++day.calls;
    day.lastFunction = call.function;
    day.lastTime = call.received;
    day.lastCodigoErro = call.status.value_or(0);
    day.lastResult = call.reply ? replyField(*call.reply, 1) : "";
    if (call.sent != 0) {
        day.waitMs.add(call.sent - call.received);
        day.deviceMs.add(call.answered - call.sent);
    }
    if (day.lastCodigoErro != 0) {
        ++day.errors[errorKind(day.lastCodigoErro)];
    }
    ++m_calls[{call.function, day.lastCodigoErro}];
    const double seconds = static_cast<double>(call.answered - call.received) / 1000;
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
        m_durationBuckets[bucket] += seconds <= BUCKET_BOUNDS[bucket] ? 1 : 0;
    }
    m_durationSum += seconds;
    ++m_durationCount;
    if (call.state == CallState::UNKNOWN) {
        ++m_unknownOutcomes;
        judgeAlerts(now);
    }
}

void StatusBoard::queued(std::size_t ahead, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    startDay(now);
    m_longestQueueToday = std::max(m_longestQueueToday, ahead + 1);
}

void StatusBoard::unknownOutcomes(long count, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unknownOutcomes = count;
    judgeAlerts(now);
}

// One log line as each alert begins, and as it ends.
void StatusBoard::judgeAlerts(std::int64_t now) {
    AlertInputs inputs;
    inputs.status = m_status ? &*m_status : nullptr;
    inputs.pendingSince = m_pendingSince;
    inputs.unreachable = m_unreachable;
    inputs.unknownOutcomes = m_unknownOutcomes;
    m_alerts = activeAlerts(inputs, now / 1000);
    std::map<std::string, std::int64_t> since;
    for (const Alert& alert : m_alerts) {
        const auto known = m_alertsSince.find(alert.name);
        since[alert.name] = known != m_alertsSince.end() ? known->second : now;
        if (known == m_alertsSince.end()) {
            logLine("alert begins: %s (%s): %s", alert.name, alert.severity,
                    logText(alert.text).c_str());
        }
    }
    for (const auto& [name, _] : m_alertsSince) {
        if (since.count(name) == 0) {
            logLine("alert ends: %s", name.c_str());
        }
    }
    m_alertsSince.swap(since);
}

Json StatusBoard::deviceJson() const {
    Json device{{"asked", timeOrNull(m_lastQuery)},
                {"last_query_failed", m_lastQueryFailed},
                {"reachable", !m_unreachable},
                {"last_codigo_erro", m_lastCodigoErro}};
    if (!m_status) {
        return device;
    }
    const DeviceStatus& status = *m_status;
    device.update(Json{{"answered", timeOrNull(status.askedAt * 1000)},
                       {"serial", asUtf8(status.serial)},
                       {"network_type", asUtf8(status.networkType)},
                       {"address", asUtf8(status.address)},
                       {"memory_total", asUtf8(status.memoryTotal)},
                       {"memory_used", asUtf8(status.memoryUsed)},
                       {"software_version", asUtf8(status.softwareVersion)},
                       {"layout_version", asUtf8(status.layoutVersion)},
                       {"certificate_issued", deviceTime(status.certificateIssued)},
                       {"certificate_expires", deviceTime(status.certificateExpires)},
                       {"last_cfe", asUtf8(status.lastCfe)},
                       {"last_cfe_time", deviceTime(status.lastCfeTime)},
                       {"last_transmission", deviceTime(status.lastTransmission)},
                       {"pending_cfe", status.pendingCfe},
                       {"clock", deviceTime(status.clock)},
                       {"clock_offset_seconds", status.clockOffsetSeconds},
                       {"operating_state", status.operatingState},
                       {"blocked", status.blocked}});
    return device;
}

Json StatusBoard::json(const Outside& outside, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    startDay(now);
    judgeAlerts(now);
    Json alerts = Json::array();
    for (const Alert& alert : m_alerts) {
        alerts.push_back({{"name", alert.name},
                          {"severity", alert.severity},
                          {"text", alert.text},
                          {"since", isoTime(m_alertsSince[alert.name])}});
    }
    Json atDevice;
    if (m_atDevice) {
        atDevice = {{"function", m_atDevice->function},
                    {"till", m_atDevice->till >= 0 ? Json(m_atDevice->till) : Json()},
                    {"session", m_atDevice->session},
                    {"since", isoTime(m_atDevice->since)}};
    }
    Json tills = Json::array();
    for (const auto& [till, day] : m_tills) {
        tills.push_back({{"till", till},
                         {"calls", day.calls},
                         {"last_call",
                          {{"function", day.lastFunction},
                           {"time", timeOrNull(day.lastTime)},
                           {"codigo_erro", day.lastCodigoErro},
                           {"result", asUtf8(day.lastResult)}}},
                         {"wait_ms", day.waitMs.summary()},
                         {"device_ms", day.deviceMs.summary()},
                         {"errors", day.errors}});
    }
    return Json{{"generated", isoTime(now)},
                {"alerts", alerts},
                {"device", deviceJson()},
                {"queue",
                 {{"length", outside.queued},
                  {"longest_today", m_longestQueueToday},
                  {"at_device", atDevice}}},
                {"tills", tills},
                {"hub",
                 {{"version", SATVARO_HUB_VERSION},
                  {"driver_version", getVersion()},
                  {"started", isoTime(m_started)},
                  {"uptime_seconds", (now - m_started) / 1000},
                  {"listen", outside.listen},
                  {"journal_rows", outside.journalRows},
                  {"journal_bytes", outside.journalBytes}}}};
}

std::string StatusBoard::metrics(const Outside& outside, std::int64_t now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    startDay(now);
    judgeAlerts(now);
    std::string text;
    metric(text, "satvaro_hub_calls_total", "counter",
           "Till calls settled since the hub started, by function and CodigoErro.");
    for (const auto& [call, count] : m_calls) {
        sample(text,
               "satvaro_hub_calls_total{function=\"" + escapedLabel(call.first) +
                   "\",codigo_erro=\"" + std::to_string(call.second) + "\"}",
               static_cast<double>(count));
    }
    metric(text, "satvaro_hub_call_duration_seconds", "histogram",
           "Till calls from their arrival to their answer.");
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
        char bound[16];
        std::snprintf(bound, sizeof bound, "%g", BUCKET_BOUNDS[bucket]);
        sample(text, std::string("satvaro_hub_call_duration_seconds_bucket{le=\"") + bound + "\"}",
               static_cast<double>(m_durationBuckets[bucket]));
    }
    sample(text, "satvaro_hub_call_duration_seconds_bucket{le=\"+Inf\"}",
           static_cast<double>(m_durationCount));
    sample(text, "satvaro_hub_call_duration_seconds_sum", m_durationSum);
    sample(text, "satvaro_hub_call_duration_seconds_count", static_cast<double>(m_durationCount));

    gauge(text, "satvaro_hub_queue_length", "Calls waiting for the device.",
          static_cast<double>(outside.queued));
    gauge(text, "satvaro_hub_queue_longest_today", "The longest queue today.",
          static_cast<double>(m_longestQueueToday));
    gauge(text, "satvaro_hub_device_up",
          "1 when the device's last call found it (a device, a working line, a reply).",
          m_unreachable ? 0 : 1);
    if (m_status) {
        gauge(text, "satvaro_hub_device_blocked", "1 when the device is blocked.",
              m_status->blocked ? 1 : 0);
        gauge(text, "satvaro_hub_certificate_expiry_timestamp_seconds",
              "The last second the device's certificate is valid.",
              static_cast<double>(m_status->certificateExpiry));
        gauge(text, "satvaro_hub_device_clock_drift_seconds",
              "The device's clock less this machine's.",
              static_cast<double>(m_status->clockOffsetSeconds));
        gauge(text, "satvaro_hub_cfe_pending_transmission", "CF-e the device holds untransmitted.",
              static_cast<double>(m_status->pendingCfe));
        gauge(text, "satvaro_hub_device_status_timestamp_seconds",
              "When the device last gave its status.", static_cast<double>(m_status->askedAt));
    }
    gauge(text, "satvaro_hub_unknown_outcome_calls",
          "Calls whose outcome is unknown, not acknowledged.",
          static_cast<double>(m_unknownOutcomes));
    metric(text, "satvaro_hub_alert_active", "gauge", "1 for each active alert.");
    for (const char* const name : alertNames()) {
        sample(text, std::string("satvaro_hub_alert_active{alert=\"") + name + "\"}",
               m_alertsSince.count(name) != 0 ? 1 : 0);
    }
    gauge(text, "satvaro_hub_journal_rows", "Calls in the journal.",
          static_cast<double>(outside.journalRows));
    gauge(text, "satvaro_hub_journal_size_bytes", "The journal's size on disk.",
          static_cast<double>(outside.journalBytes));
    gauge(text, "satvaro_hub_start_time_seconds", "When the hub started.",
          static_cast<double>(m_started / 1000));
    return text;
}

}  // namespace hub
