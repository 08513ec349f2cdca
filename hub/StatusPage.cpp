#include "StatusPage.h"

namespace hub {

namespace {

using Json = nlohmann::ordered_json;

constexpr int REFRESH_SECONDS = 5;

constexpr char STYLE[] = R"(
body{font:15px/1.4 system-ui,sans-serif;margin:0 auto;max-width:60em;padding:.5em 1em;color:#222}
h1{font-size:1.3em;margin:.3em 0}h2{font-size:1.1em;margin:1em 0 .3em;border-bottom:1px solid #ccc}
.alert{padding:.5em .8em;margin:.3em 0;border-radius:.3em}
.critical{background:#fdd;border-left:.4em solid #c00}.warning{background:#ffd;border-left:.4em solid #c90}
.ok{background:#dfd;border-left:.4em solid #080}small{color:#555}
dl{display:grid;grid-template-columns:max-content auto;gap:.2em 1em;margin:0}dt{color:#555}dd{margin:0}
.wide{overflow-x:auto}table{border-collapse:collapse;white-space:nowrap}
th,td{padding:.2em .6em;border-bottom:1px solid #eee;text-align:right}th:first-child,td:first-child{text-align:left}
)";

// An inline icon, so that the browser asks for no /favicon.ico.
constexpr char ICON[] =
    "data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 16 16'%3E"
    "%3Crect width='16' height='16' rx='3' fill='%23246'/%3E%3C/svg%3E";

std::string escaped(const std::string& text) {
    std::string html;
    for (const char c : text) {
        switch (c) {
        case '&':
            html += "&amp;";
            break;
        case '<':
            html += "&lt;";
            break;
        case '>':
            html += "&gt;";
            break;
        case '"':
            html += "&quot;";
            break;
        default:
            html += c;
        }
    }
    return html;
}

// A value as text: null as a dash.
std::string shown(const Json& value) {
    if (value.is_null()) {
        return "&mdash;";
    }
    return escaped(value.is_string() ? value.get<std::string>() : value.dump());
}

std::string row(const char* label, const Json& value) {
    return std::string("<dt>") + label + "</dt><dd>" + shown(value) + "</dd>";
}

std::string alerts(const Json& status) {
    std::string html = "<section id=\"alerts\">";
    for (const Json& alert : status["alerts"]) {
        html += "<p class=\"alert " + shown(alert["severity"]) + "\">" + shown(alert["text"]) +
                " <small>since " + shown(alert["since"]) + "</small></p>";
    }
    if (status["alerts"].empty()) {
        html += "<p class=\"alert ok\">No alerts</p>";
    }
    return html + "</section>";
}

std::string device(const Json& device) {
    const auto field = [&](const char* name) { return device.value(name, Json()); };
    const Json memory = field("memory_used").is_null()
                            ? Json()
                            : Json(field("memory_used").get<std::string>() + " of " +
                                   field("memory_total").get<std::string>());
    std::string state = "&mdash;";
    if (!field("blocked").is_null()) {
        state = field("blocked").get<bool>() ? "blocked" : "in operation";
    }
    return "<section id=\"device\"><h2>Device</h2><dl>" + row("Serial number", field("serial")) +
           row("Network", field("network_type")) + row("Address", field("address")) +
           row("Memory", memory) + row("Software", field("software_version")) +
           row("Layout", field("layout_version")) +
           row("Certificate issued", field("certificate_issued")) +
           row("Certificate expires", field("certificate_expires")) +
           row("Last CF-e", field("last_cfe")) + row("Last CF-e issued", field("last_cfe_time")) +
           row("Last transmission", field("last_transmission")) +
           row("CF-e pending transmission", field("pending_cfe")) +
           row("Device clock", field("clock")) +
           row("Clock difference (s)", field("clock_offset_seconds")) +
           "<dt>Operating state</dt><dd>" + state + "</dd>" + row("Asked", field("asked")) +
           "</dl></section>";
}

std::string queue(const Json& queue) {
    const Json& atDevice = queue["at_device"];
    std::string current = "&mdash;";
    if (!atDevice.is_null()) {
        current = shown(atDevice["function"]) +
                  (atDevice["till"].is_null() ? std::string(" (the hub's)")
                                              : " for till " + shown(atDevice["till"])) +
                  ", session " + shown(atDevice["session"]) + ", since " + shown(atDevice["since"]);
    }
    return "<section id=\"queue\"><h2>Queue</h2><dl>" + row("Waiting", queue["length"]) +
           row("Longest today", queue["longest_today"]) + "<dt>At the device</dt><dd>" + current +
           "</dd></dl></section>";
}

std::string tills(const Json& tills) {
    std::string html =
        "<section id=\"tills\"><h2>Tills today</h2><div class=\"wide\"><table><tr><th>Till</th>"
        "<th>Calls</th><th>Last call</th><th>At</th><th>CodigoErro</th><th>Result</th>"
        "<th>Wait ms (median / p95)</th><th>Device ms (median / p95)</th><th>Errors</th></tr>";
    for (const Json& till : tills) {
        const Json& last = till["last_call"];
        std::string errors;
        for (const auto& [kind, count] : till["errors"].items()) {
            errors += (errors.empty() ? "" : ", ") + escaped(kind) + " " + shown(count);
        }
        html += "<tr><td>" + shown(till["till"]) + "</td><td>" + shown(till["calls"]) +
                "</td><td>" + shown(last["function"]) + "</td><td>" + shown(last["time"]) +
                "</td><td>" + shown(last["codigo_erro"]) + "</td><td>" + shown(last["result"]) +
                "</td><td>" + shown(till["wait_ms"]["median"]) + " / " +
                shown(till["wait_ms"]["p95"]) + "</td><td>" + shown(till["device_ms"]["median"]) +
                " / " + shown(till["device_ms"]["p95"]) + "</td><td>" +
                (errors.empty() ? "&mdash;" : errors) + "</td></tr>";
    }
    return html + "</table></div></section>";
}

std::string hubSection(const Json& hub) {
    return "<section id=\"hub\"><h2>Hub</h2><dl>" + row("Version", hub["version"]) +
           row("Driver", hub["driver_version"]) + row("Started", hub["started"]) +
           row("Up (s)", hub["uptime_seconds"]) + row("Listening on", hub["listen"]) +
           row("Journal calls", hub["journal_rows"]) +
           row("Journal size (bytes)", hub["journal_bytes"]) + "</dl></section>";
}

}  // namespace

std::string statusPage(const Json& status) {
    const Json serial = status["device"].value("serial", Json());
    return std::string(
               "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
               "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
               "<meta http-equiv=\"refresh\" content=\"") +
           std::to_string(REFRESH_SECONDS) + "\"><link rel=\"icon\" href=\"" + ICON +
           "\"><title>satvaro-hub " + (serial.is_null() ? "" : shown(serial)) + "</title><style>" +
           STYLE + "</style></head><body><h1>satvaro-hub</h1>" + alerts(status) +
           device(status["device"]) + queue(status["queue"]) + tills(status["tills"]) +
           hubSection(status["hub"]) + "<p><small>" + shown(status["generated"]) +
           " &middot; <a href=\"status.json\">status.json</a> &middot; "
           "<a href=\"metrics\">metrics</a></small></p></body></html>\n";
}

}  // namespace hub
