// The simulated device's end of the line: a pty whose slave the simulator
// keeps open (so a program opening and closing the node never hangs the
// line up), published under a symbolic link that always names the current
// slave, and in a file holding the slave's path.
#ifndef SATVARO_SIM_DEVICELINK_H
#define SATVARO_SIM_DEVICELINK_H

#include <string>

#include "sim/Pty.h"

namespace satsim {

class DeviceLink {
public:
    // Either path may be "" (not published).
    DeviceLink(std::string linkPath, std::string slaveFile);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    // Opens the first pty and publishes it.
    bool plugIn(std::string& error);
    // Hangs the line up (programs holding the slave see it vanish) and
    // comes back on a new pty, published before the old line goes down.
    bool replug(std::string& error);
    // Hangs up for good and removes the link.
    void unplug();

    int masterFd() const { return m_pty.master; }
    const std::string& slavePath() const { return m_pty.slavePath; }

private:
    bool publish(std::string& error);

    std::string m_linkPath;
    std::string m_slaveFile;
    PtyEnds m_pty;
};

}  // namespace satsim

#endif
