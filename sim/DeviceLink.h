// The simulated device's end of the line: a pty whose slave the simulator
// keeps open (so a program opening and closing the node never hangs the
// line up), published under a symbolic link that always names the current
// slave.
#ifndef SATVARO_SIM_DEVICELINK_H
#define SATVARO_SIM_DEVICELINK_H

#include <string>

#include "sim/Pty.h"

namespace satsim {

class DeviceLink {
public:
    explicit DeviceLink(std::string linkPath);  // "" publishes no link
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Opens the first pty and publishes it.
    bool plugIn(std::string& error);
    // Hangs the line up (programs holding the slave see it vanish) and
    // comes back on a new pty, which the link then names.
    bool replug(std::string& error);
    // Hangs up for good and removes the link.
    void unplug();

    int masterFd() const { return m_pty.master; }
    const std::string& slavePath() const { return m_pty.slavePath; }

private:
    bool publish(std::string& error);

    std::string m_linkPath;
    PtyEnds m_pty;
};

}  // namespace satsim

#endif
