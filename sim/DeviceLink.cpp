#include "sim/DeviceLink.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace satsim {

DeviceLink::DeviceLink(std::string linkPath) : m_linkPath(std::move(linkPath)) {}

DeviceLink::~DeviceLink()
{
    closePty(m_pty);
}

bool DeviceLink::plugIn(std::string& error)
{
    return openRawPty(m_pty, error) && publish(error);
}

bool DeviceLink::replug(std::string& error)
{
    // The new pair is opened before the old one is closed, so it cannot
    // reuse the old number: a program still holding the old node keeps a
    // dead line, as after pulling a real USB cable.
    PtyEnds fresh;
    if (!openRawPty(fresh, error))
        return false;
    closePty(m_pty);
    m_pty = fresh;
    return publish(error);
}

void DeviceLink::unplug()
{
    closePty(m_pty);
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
}

bool DeviceLink::publish(std::string& error)
{
    if (m_linkPath.empty())
        return true;
    std::string temporary = m_linkPath + ".new" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(m_pty.slavePath.c_str(), temporary.c_str()) != 0
        || std::rename(temporary.c_str(), m_linkPath.c_str()) != 0) {
        error = "cannot link " + m_linkPath + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace satsim
