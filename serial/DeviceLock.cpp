#include "serial/DeviceLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

#include "log/logdebug.h"

namespace serial {

namespace {

// The system's lock directory comes first: every user may write it, and
// service sandboxes with a private /tmp still share it.
const char* const LOCK_DIRECTORIES[] = {"/run/lock", "/tmp"};
const mode_t LOCK_FILE_MODE = 0666;  // every user of the device takes turns on it
// Byte 0 of the lock file stands for the device; read locks on byte 1 are
// the processes waiting for it.
const off_t HOLD_BYTE = 0;
const off_t WAIT_BYTE = 1;
// The kernel queues no one for a lock that cannot be waited on with a
// time-out, so a waiting process tries again at this pace. One that comes
// while others wait lets them try first, so that a busy process cannot
// keep the device by coming back at once.
const std::chrono::milliseconds RETRY_INTERVAL(10);
const std::chrono::milliseconds COURTESY(30);

// The callers of this process, per device, in the order they came; the
// first holds the device or is about to.
class Turns {
public:
    // False when `deadline` came before the caller's turn; it is then out of line.
    bool waitForTurn(const DeviceKey& key, const void* caller, const Deadline& deadline) {
        std::unique_lock<std::mutex> guard(m_mutex);
        std::list<const void*>& line = m_lines[key];
        line.push_back(caller);
        if (m_turnChanged.wait_until(guard, deadline.end(),
                                     [&] { return line.front() == caller; })) {
            return true;
        }
        leaveLocked(line, caller);
        return false;
    }

    void leave(const DeviceKey& key, const void* caller) {
        const std::lock_guard<std::mutex> guard(m_mutex);
        leaveLocked(m_lines[key], caller);
    }

private:
    void leaveLocked(std::list<const void*>& line, const void* caller) {
        line.remove(caller);
        m_turnChanged.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_turnChanged;
    std::map<DeviceKey, std::list<const void*>> m_lines;
};

// Never destroyed: a host thread may still be in an exchange while the
// process exits.
Turns& turns() {
    static Turns* const processTurns = new Turns;
    return *processTurns;
}

bool setLock(int fd, short type, off_t byte) {
    struct flock region {};
    region.l_type = type;
    region.l_whence = SEEK_SET;
    region.l_start = byte;
    region.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &region) == 0;
}

bool othersWaiting(int fd) {
    struct flock region {};
    region.l_type = F_WRLCK;
    region.l_whence = SEEK_SET;
    region.l_start = WAIT_BYTE;
    region.l_len = 1;
    return fcntl(fd, F_OFD_GETLK, &region) == 0 && region.l_type != F_UNLCK;
}

void sleepAtMost(std::chrono::milliseconds pause, const Deadline& deadline) {
    std::this_thread::sleep_until(std::min(Deadline::Clock::now() + pause, deadline.end()));
}

// An existing file is opened as it is: in a sticky directory the system may
// refuse O_CREAT on another user's file even when it exists. Links and
// anything but a regular file are refused.
int openShared(const std::string& path) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        LOCK_FILE_MODE);
            if (fd >= 0) {
                fchmod(fd, LOCK_FILE_MODE);  // whatever the host's umask
            } else if (errno == EEXIST) {
                continue;  // another caller made it meanwhile
            }
        }
        struct stat status {};
        if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
            ::close(fd);
            fd = -1;
        }
        return fd;
    }
    return -1;
}

// "satvaro-<node major>.<minor>-<file system major>.<minor>.lock"
std::string lockFileName(const DeviceKey& key) {
    char name[96];
    std::snprintf(name, sizeof name, "/satvaro-%u.%u-%u.%u.lock", major(key.node), minor(key.node),
                  major(key.fileSystem), minor(key.fileSystem));
    return name;
}

int openLockFile(const DeviceKey& key) {
    int lastError = 0;
    for (const char* directory : LOCK_DIRECTORIES) {
        const int fd = openShared(directory + lockFileName(key));
        if (fd >= 0) {
            return fd;
        }
        lastError = errno;
    }
    static std::once_flag told;
    std::call_once(told, [lastError] {
        LogDebug::obtemReferencia()->saveLog(
            "error", std::string("[DeviceLock::acquire] Sem arquivo de trava em /run/lock nem "
                                 "/tmp (") +
                         std::strerror(lastError) +
                         "): o dispositivo so e reservado entre as chamadas deste processo");
    });
    return -1;
}

// Takes the device from other processes. A file system that cannot lock
// leaves the turns of this process as the only guard.
bool takeFromOtherProcesses(int fd, const Deadline& deadline) {
    bool waiting = othersWaiting(fd);
    if (waiting) {
        setLock(fd, F_RDLCK, WAIT_BYTE);
        sleepAtMost(COURTESY, deadline);
    }
    bool taken;
    for (;;) {
        taken = setLock(fd, F_WRLCK, HOLD_BYTE);
        const bool heldByAnother = !taken && (errno == EAGAIN || errno == EACCES);
        if (!heldByAnother) {
            taken = true;
            break;
        }
        if (deadline.passed()) {
            break;
        }
        if (!waiting) {
            waiting = setLock(fd, F_RDLCK, WAIT_BYTE);
        }
        sleepAtMost(RETRY_INTERVAL, deadline);
    }
    if (waiting) {
        setLock(fd, F_UNLCK, WAIT_BYTE);
    }
    return taken;
}

}  // namespace

bool DeviceKey::operator<(const DeviceKey& other) const {
    return std::tie(node, fileSystem) < std::tie(other.node, other.fileSystem);
}

DeviceLock::~DeviceLock() {
    release();
}

bool DeviceLock::acquire(const std::string& path, const Deadline& deadline) {
    struct stat node {};
    if (::stat(path.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) {
        return true;  // nothing a device could be shared through
    }
    m_key = DeviceKey{node.st_rdev, node.st_dev};
    if (!turns().waitForTurn(m_key, this, deadline)) {
        return false;
    }
    m_queued = true;
    m_fileFd = openLockFile(m_key);
    if (m_fileFd >= 0 && !takeFromOtherProcesses(m_fileFd, deadline)) {
        release();
        return false;
    }
    return true;
}

void DeviceLock::release() {
    if (m_fileFd >= 0) {
        setLock(m_fileFd, F_UNLCK, HOLD_BYTE);
        ::close(m_fileFd);
        m_fileFd = -1;
    }
    if (m_queued) {
        turns().leave(m_key, this);
        m_queued = false;
    }
}

}  // namespace serial
