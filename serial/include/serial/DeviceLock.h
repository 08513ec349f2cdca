// Keeps a device to one exchange at a time. The callers of this process take
// turns in the order they came; other processes are kept out by a lock on a
// file named after the device's numbers, which the kernel drops when its
// holder ends, however it ends.
#ifndef SATVARO_SERIAL_DEVICELOCK_H
#define SATVARO_SERIAL_DEVICELOCK_H

#include <sys/types.h>

#include <string>

#include "serial/Deadline.h"

namespace serial {

// What tells one device from another: its device number, and the file system
// holding its node (pty instances number their devices each from 0).
struct DeviceKey {
    dev_t node;
    dev_t fileSystem;

    bool operator<(const DeviceKey& other) const;
};

class DeviceLock {
public:
    DeviceLock() = default;
    ~DeviceLock();  // releases
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Waits until the device whose node is `path` is free, at most until
    // `deadline`. True once this caller holds it, or when there is no node to
    // lock (opening it fails on its own); false when the deadline came first.
    bool acquire(const std::string& path, const Deadline& deadline);
    // Lets the next caller have the device; nothing when not held.
    void release();

private:
    bool m_queued = false;
    DeviceKey m_key{};
    int m_fileFd = -1;  // the lock file while held; -1 when held in this process only
};

}  // namespace serial

#endif
