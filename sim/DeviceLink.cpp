#include "DeviceLink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

#include "sim/Files.h"

namespace satsim {

DeviceLink::DeviceLink(std::string linkPath, std::string slaveFile)
    : m_linkPath(std::move(linkPath)), m_slaveFile(std::move(slaveFile)) {}

DeviceLink::~DeviceLink() {
    closePty(m_pty);
}

bool DeviceLink::plugIn(std::string& error) {
    return openRawPty(m_pty, error) && publish(error);
}

bool DeviceLink::replug(std::string& error) {
    // The new pair is opened before the old one is closed, so it cannot
    // reuse the old number: a program still holding the old node keeps a
    // dead line, as after pulling a real USB cable. Whoever sees the old
    // line go down finds the new one already published.
    PtyEnds old = m_pty;
    if (!openRawPty(m_pty, error)) {
        m_pty = old;
        return false;
    }
    bool published = publish(error);
    closePty(old);
    return published;
}

int DeviceLink::unreadBytes() const {
    int count = 0;
    return ::ioctl(m_pty.slave, FIONREAD, &count) == 0 ? count : 0;
}

void DeviceLink::unplug() {
    closePty(m_pty);
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
}

// The link first: once the slave file names the line, the link leads there.
bool DeviceLink::publish(std::string& error) {
    if (!m_linkPath.empty()) {
        std::string temporary = m_linkPath + ".new" + std::to_string(::getpid());
        ::unlink(temporary.c_str());
        if (::symlink(m_pty.slavePath.c_str(), temporary.c_str()) != 0 ||
            std::rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
            error = "cannot link " + m_linkPath + ": " + std::strerror(errno);
            ::unlink(temporary.c_str());
            return false;
        }
    }
    if (!m_slaveFile.empty() && !writeFileAtomically(m_slaveFile, m_pty.slavePath + "\n")) {
        error = "cannot write " + m_slaveFile;
        return false;
    }
    return true;
}

}  // namespace satsim
