// Discovery tests rearrange /dev and /sys. They may only do so inside the
// harness's private mount namespace, where /dev is a scratch directory and
// what they mount over /sys is seen by no one else.
#ifndef SATVARO_TESTS_SERIAL_NAMESPACEGUARD_H
#define SATVARO_TESTS_SERIAL_NAMESPACEGUARD_H

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

// True when this process runs under the harness in a mount namespace of its
// own (or cannot even look at init's, i.e. has no power over the real /dev).
inline bool insideHarnessNamespace() {
    if (std::getenv("SATVARO_SIM_DIR") == nullptr) {
        return false;
    }
    char own[64] = {0};
    char init[64] = {0};
    if (readlink("/proc/self/ns/mnt", own, sizeof own - 1) < 0) {
        return false;
    }
    if (readlink("/proc/1/ns/mnt", init, sizeof init - 1) < 0) {
        return errno == EACCES;
    }
    return std::string(own) != std::string(init);
}

#endif
