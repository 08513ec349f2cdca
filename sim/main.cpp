// satvaro-sim: a SAT device on the master side of a pty.
//
//   satvaro-sim --state-dir DIR [--link PATH] [--activation-code CODE] [--activated]
//               [--seed N] [--clock YYYYMMDDhhmmss] [--sessions-kept N]
//               [--clock-offset SECONDS] [--certificate-issued YYYYMMDD]
//               [--certificate-expires YYYYMMDD] [--pending-cfe N]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Simulator.h"
#include "sim/Cfe.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) {
    g_stop = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: satvaro-sim --state-dir DIR [--link PATH] [--activation-code CODE] "
                 "[--activated] [--seed N] [--clock YYYYMMDDhhmmss] [--sessions-kept N]\n"
                 "                   [--clock-offset SECONDS] [--certificate-issued YYYYMMDD]\n"
                 "                   [--certificate-expires YYYYMMDD] [--pending-cfe N]\n");
    return 2;
}

bool isNumber(const std::string& text) {
    return !text.empty() && satsim::isDigits(text, text.size()) && text.size() <= 19;
}

// YYYYMMDDhhmmss, a time that exists.
bool isTime(const std::string& text) {
    std::tm time{};
    const char* end = ::strptime(text.c_str(), "%Y%m%d%H%M%S", &time);
    return satsim::isDigits(text, 14) && end != nullptr && *end == '\0';
}

// YYYYMMDD, a day that exists.
bool isDay(const std::string& text) {
    return isTime(text + "000000");
}

// Seconds, with a sign or without, at most a year.
bool isOffset(const std::string& text) {
    const std::string digits = text.substr(!text.empty() && (text[0] == '-' || text[0] == '+'));
    return isNumber(digits) && digits.size() <= 8;
}

bool parseOptions(int argc, char** argv, satsim::SimulatorOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--state-dir" && value) {
            options.stateDir = argv[++i];
        } else if (option == "--link" && value) {
            options.linkPath = argv[++i];
        } else if (option == "--activation-code" && value) {
            options.device.activationCode = argv[++i];
        } else if (option == "--activated") {
            options.device.activated = true;
        } else if (option == "--seed" && value && isNumber(value)) {
            options.device.seeded = true;
            options.device.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (option == "--clock" && value && isTime(value)) {
            options.device.clock = argv[++i];
        } else if (option == "--sessions-kept" && value && isNumber(value) &&
                   std::strtoull(value, nullptr, 10) > 0) {
            options.device.sessionsKept = std::strtoull(argv[++i], nullptr, 10);
        } else if (option == "--clock-offset" && value && isOffset(value)) {
            options.device.clockOffsetSeconds = std::strtol(argv[++i], nullptr, 10);
        } else if (option == "--certificate-issued" && value && isDay(value)) {
            options.device.certificateIssued = argv[++i];
        } else if (option == "--certificate-expires" && value &&
                   (isDay(value) ||
                    (value[0] == '+' && isNumber(value + 1) && std::strlen(value) <= 5))) {
            options.device.certificateExpires = argv[++i];
        } else if (option == "--pending-cfe" && value && isNumber(value) &&
                   std::strlen(value) <= 6) {
            options.device.pendingCfe = std::strtol(argv[++i], nullptr, 10);
        } else {
            return false;
        }
    }
    return !options.stateDir.empty();
}

}  // namespace

int main(int argc, char** argv) {
    satsim::SimulatorOptions options;
    if (!parseOptions(argc, argv, options))
        return usage();

    // The stop signals stay blocked except while the device waits, so none
    // is lost between checking the flag and going to sleep.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stopSignals, signal);
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigaction(signal, &action, nullptr);
    }
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigdelset(&waitMask, signal);

    satsim::Simulator simulator(options);
    std::string error;
    if (!simulator.start(error)) {
        std::fprintf(stderr, "satvaro-sim: %s\n", error.c_str());
        return 1;
    }
    return simulator.serve(g_stop, waitMask);
}
