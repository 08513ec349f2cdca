// satvaro-sim: a SAT device on the master side of a pty.
//
//   satvaro-sim --state-dir DIR [--link PATH] [--activation-code CODE] [--activated]
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/Simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void requestStop(int) {
    g_stop = 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: satvaro-sim --state-dir DIR [--link PATH] [--activation-code CODE] "
                 "[--activated]\n");
    return 2;
}

bool parseOptions(int argc, char** argv, satsim::SimulatorOptions& options) {
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        if (option == "--state-dir" && hasValue)
            options.stateDir = argv[++i];
        else if (option == "--link" && hasValue)
            options.linkPath = argv[++i];
        else if (option == "--activation-code" && hasValue)
            options.device.activationCode = argv[++i];
        else if (option == "--activated")
            options.device.activated = true;
        else
            return false;
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
