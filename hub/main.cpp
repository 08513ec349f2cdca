// satvaro-hub: one SAT device shared by the tills of a store, over the HTTP
// API their point-of-sale programs already speak (see satvaro-hub(8)).
//
//   satvaro-hub [--config FILE]
//   satvaro-hub [--config FILE] export --from YYYY-MM-DD --to YYYY-MM-DD DIR
//   satvaro-hub [--config FILE] prune --before YYYY-MM-DD
//   satvaro-hub [--config FILE] acknowledge SESSION
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "FiscalArchive.h"
#include "hub/ActivationCode.h"
#include "hub/Hub.h"
#include "hub/HubConfig.h"
#include "hub/HubLog.h"
#include "hub/Journal.h"
#include "satvaro.h"

namespace {

constexpr int FAILURE = 1;
constexpr int USAGE = 2;

int usage() {
    std::fprintf(stderr,
                 "usage: satvaro-hub [--config FILE]\n"
                 "       satvaro-hub [--config FILE] export --from YYYY-MM-DD --to YYYY-MM-DD DIR\n"
                 "       satvaro-hub [--config FILE] prune --before YYYY-MM-DD\n"
                 "       satvaro-hub [--config FILE] acknowledge SESSION\n");
    return USAGE;
}

// Makes `path` and its missing parents (mode 0700 for the ones made).
bool makeDirectories(const std::string& path) {
    for (std::string::size_type slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool prepareDirectories(const hub::HubConfig& config, std::string& error) {
    for (const std::string& directory : {config.stateDir, config.workDir}) {
        if (!makeDirectories(directory)) {
            error = "cannot make " + directory + ": " + std::strerror(errno);
            return false;
        }
    }
    if (::chdir(config.workDir.c_str()) != 0) {
        error = "cannot enter " + config.workDir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

sigset_t stopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGHUP);
    return signals;
}

int serve(const hub::HubConfig& config) {
    std::string error;
    hub::Journal journal;
    if (!prepareDirectories(config, error) || !journal.open(config.stateDir, error)) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }

    // Every thread started from here on leaves the stop signals to the one
    // that waits for them; a till gone mid-reply is no reason to stop.
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    hub::ActivationCode code(config.activationCode, config.stateDir + "/activation-code");
    hub::Hub service(config, journal, code);
    if (!service.bind(error)) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }
    service.settleJournal();
    hub::logLine("listening on %s port %d, functions under %s, driver %s",
                 config.listenAddress.c_str(), service.port(), config.basePath.c_str(),
                 getVersion());

    std::thread stopper([&] {
        int signal = 0;
        sigwait(&signals, &signal);
        service.stop();
    });
    const bool served = service.serve(error);
    // Ends the waiting thread too when serving ended by itself.
    ::kill(::getpid(), SIGTERM);
    stopper.join();
    if (!served) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }
    hub::logLine("stopped");
    return 0;
}

// "YYYY-MM-DD" as "YYYYMMDD"; empty when it is not a date.
std::string dayOf(const char* date) {
    std::tm day{};
    const char* const end = date != nullptr ? ::strptime(date, "%Y-%m-%d", &day) : nullptr;
    if (end == nullptr || *end != '\0' || std::strlen(date) != 10) {
        return "";
    }
    return std::string(date, 4) + std::string(date + 5, 2) + std::string(date + 8, 2);
}

// The local midnight that begins "YYYY-MM-DD", in the journal's milliseconds.
std::int64_t midnightOf(const char* date) {
    std::tm day{};
    ::strptime(date, "%Y-%m-%d", &day);
    day.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&day)) * 1000;
}

bool validTool(const std::vector<const char*>& words) {
    const std::string tool = words[0];
    if (tool == "export") {
        return words.size() == 6 && words[1] == std::string("--from") &&
               words[3] == std::string("--to") && !dayOf(words[2]).empty() &&
               !dayOf(words[4]).empty();
    }
    if (tool == "prune") {
        return words.size() == 3 && words[1] == std::string("--before") && !dayOf(words[2]).empty();
    }
    return tool == "acknowledge" && words.size() == 2 && std::strlen(words[1]) <= 6 &&
           std::strspn(words[1], "0123456789") == std::strlen(words[1]) && *words[1] != '\0';
}

// The tools on the journal, beside a running hub or without one.
int tool(const hub::HubConfig& config, const std::vector<const char*>& words) {
    hub::Journal journal;
    std::string error;
    if (!validTool(words)) {
        return usage();
    }
    if (!journal.open(config.stateDir, error)) {
        std::fprintf(stderr, "satvaro-hub: %s\n", error.c_str());
        return FAILURE;
    }
    const std::string tool = words[0];
    if (tool == "export") {
        return hub::exportDocuments(journal, dayOf(words[2]), dayOf(words[4]), words[5], stdout)
                   ? 0
                   : FAILURE;
    }
    const long changed = tool == "prune" ? journal.prune(midnightOf(words[2]))
                                         : journal.acknowledge(std::atoi(words[1]));
    if (changed < 0) {
        std::fprintf(stderr, "satvaro-hub: the journal cannot be written\n");
        return FAILURE;
    }
    if (tool == "prune") {
        std::printf("removed %ld calls received before %s\n", changed, words[2]);
    } else {
        std::printf("acknowledged %ld calls of unknown outcome under session %s\n", changed,
                    words[1]);
    }
    return changed > 0 || tool == "prune" ? 0 : FAILURE;
}

}  // namespace

int main(int argc, char** argv) {
    std::string configPath = SATVARO_HUB_CONFIG;
    std::vector<const char*> words(argv + 1, argv + argc);
    if (words.size() >= 2 && words[0] == std::string("--config")) {
        configPath = words[1];
        words.erase(words.begin(), words.begin() + 2);
    }
    hub::HubConfig config;
    std::string error;
    if (!words.empty() && !validTool(words)) {
        return usage();
    }
    if (!hub::loadHubConfig(configPath, config, error)) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }
    return words.empty() ? serve(config) : tool(config, words);
}
