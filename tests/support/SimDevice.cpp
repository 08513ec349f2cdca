#include "SimDevice.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "TestFiles.h"
#include "sim/Files.h"

SimDevice::SimDevice() {
    const char* dir = std::getenv("SATVARO_SIM_DIR");
    m_dir = dir ? dir : "";
}

bool SimDevice::setFaults(const std::string& lines) const {
    std::string text = lines;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return satsim::writeFileAtomically(m_dir + "/faults", text);
}

std::string SimDevice::faults() const {
    return readFile(m_dir + "/faults");
}

// Complete records only: one being written has a name starting with ".".
std::vector<std::string> SimDevice::entries() const {
    std::vector<std::string> names;
    DIR* dir = ::opendir(requestsDir().c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            names.push_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

SimRequest SimDevice::record(const std::string& name) const {
    std::string dir = requestsDir() + "/" + name;
    const std::chrono::nanoseconds received(std::atoll(readFile(dir + "/received").c_str()));
    return {readFile(dir + "/code"), readFile(dir + "/body"), readFile(dir + "/wire"),
            std::chrono::steady_clock::time_point(received)};
}

std::vector<SimRequest> SimDevice::requests() const {
    std::vector<SimRequest> all;
    for (const std::string& name : entries())
        all.push_back(record(name));
    return all;
}

std::size_t SimDevice::requestCount() const {
    return entries().size();
}

// Records are renamed into the journal when complete, so each arrival is
// an inotify event: no polling with sleeps.
bool SimDevice::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    using Clock = std::chrono::steady_clock;
    int watcher = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watcher < 0)
        return false;
    ::inotify_add_watch(watcher, requestsDir().c_str(), IN_MOVED_TO | IN_CREATE);
    const auto deadline = Clock::now() + timeout;
    bool reached = false;
    for (;;) {
        if (requestCount() >= count) {
            reached = true;
            break;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd events{watcher, POLLIN, 0};
        if (::poll(&events, 1, static_cast<int>(left)) > 0) {
            char drain[4096];
            while (::read(watcher, drain, sizeof drain) > 0) {
            }
        }
    }
    ::close(watcher);
    return reached;
}
