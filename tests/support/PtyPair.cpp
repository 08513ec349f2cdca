#include "PtyPair.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; false on time-out or error.
bool waitFor(int fd, short events, Clock::time_point deadline)
{
    pollfd line {fd, events, 0};
    int ready = ::poll(&line, 1, msLeft(deadline));
    return ready > 0 && (line.revents & events);
}

}  // namespace

PtyPair::PtyPair()
{
    satsim::openRawPty(m_ends, m_error);
}

PtyPair::~PtyPair()
{
    satsim::closePty(m_ends);
}

void PtyPair::closeMaster()
{
    if (m_ends.master >= 0)
        ::close(m_ends.master);
    m_ends.master = -1;
}

void PtyPair::closeSlave()
{
    if (m_ends.slave >= 0)
        ::close(m_ends.slave);
    m_ends.slave = -1;
}

bool PtyPair::writeAll(const std::string& bytes, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(m_ends.master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!waitFor(m_ends.master, POLLOUT, deadline)) {
            return false;
        }
    }
    return true;
}

bool PtyPair::readAtLeast(std::string& out, std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    char buffer[65536];
    while (out.size() < count) {
        ssize_t n = ::read(m_ends.master, buffer, sizeof buffer);
        if (n > 0) {
            out.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else if (!waitFor(m_ends.master, POLLIN, deadline)) {
            return false;
        }
    }
    return true;
}

std::string PtyPair::drain()
{
    std::string out;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(m_ends.master, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}
