// satvaro-hub: one SAT device shared by the tills of a store, over the HTTP
// API their point-of-sale programs already speak (see satvaro-hub(8)).
//
//   satvaro-hub [--config FILE]
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "hub/HubLog.h"
#include "hub/ActivationCode.h"
#include "hub/Hub.h"
#include "hub/HubConfig.h"
#include "hub/SessionNumbers.h"
#include "satvaro.h"

namespace {

constexpr int FAILURE = 1;
constexpr int USAGE = 2;

int usage() {
    std::fprintf(stderr, "usage: satvaro-hub [--config FILE]\n");
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
    for (const std::string& directory : {config.stateDir + "/sessions", config.workDir}) {
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

}  // namespace

int main(int argc, char** argv) {
    std::string configPath = SATVARO_HUB_CONFIG;
    if (argc == 3 && std::strcmp(argv[1], "--config") == 0) {
        configPath = argv[2];
    } else if (argc != 1) {
        return usage();
    }

    hub::HubConfig config;
    std::string error;
    if (!hub::loadHubConfig(configPath, config, error) || !prepareDirectories(config, error)) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }

    // Every thread started from here on leaves the stop signals to the one
    // that waits for them; a till gone mid-reply is no reason to stop.
    const sigset_t signals = stopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    hub::SessionNumbers sessions(config.stateDir + "/sessions");
    hub::ActivationCode code(config.activationCode, config.stateDir + "/activation-code");
    hub::Hub service(config, sessions, code);
    if (!service.bind(error)) {
        hub::logLine("%s", error.c_str());
        return FAILURE;
    }
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
