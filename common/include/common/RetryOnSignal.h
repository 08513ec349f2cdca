// A system call made again when a signal interrupted it before it did
// anything (it failed with EINTR): the host's signal handlers must not turn
// into failed reads, writes or waits.
#ifndef SATVARO_COMMON_RETRYONSIGNAL_H
#define SATVARO_COMMON_RETRYONSIGNAL_H

#include <cerrno>

// Calls `call` until it returns something other than a negative value with
// errno EINTR; returns that.
template <typename Call>
auto retryOnSignal(Call&& call) -> decltype(call()) {
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

#endif
