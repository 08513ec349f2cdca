#include "sim/Transmitter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace satsim {

void Transmitter::enqueue(Transmission plan, Clock::time_point now)
{
    if (m_queue.empty())
        m_due = now + std::chrono::milliseconds(plan.delayMs);
    Pending pending;
    pending.plan = std::move(plan);
    m_queue.push_back(std::move(pending));
}

void Transmitter::clear()
{
    m_queue.clear();
}

int Transmitter::msUntilDue(Clock::time_point now) const
{
    if (m_queue.empty())
        return -1;
    if (m_due <= now)
        return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_due - now).count();
    return static_cast<int>(left) + 1;
}

// The bytes this transmission may send at all: up to the hang-up point.
std::size_t Transmitter::limit(const Pending& pending) const
{
    std::size_t size = pending.plan.bytes.size();
    if (pending.plan.hangupAfter >= 0 && static_cast<std::size_t>(pending.plan.hangupAfter) < size)
        return static_cast<std::size_t>(pending.plan.hangupAfter);
    return size;
}

Transmitter::Outcome Transmitter::writeDue(int fd, Clock::time_point now)
{
    while (!m_queue.empty() && m_due <= now) {
        Pending& head = m_queue.front();
        std::size_t end = limit(head);
        if (head.sent < end) {
            if (head.chunkLeft == 0)
                head.chunkLeft = head.plan.chunk == 0 ? end - head.sent : head.plan.chunk;
            std::size_t count = std::min(head.chunkLeft, end - head.sent);
            ssize_t written = ::write(fd, head.plan.bytes.data() + head.sent, count);
            if (written < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return Continue;  // the reader is behind; poll tells when to go on
                std::fprintf(stderr, "satvaro-sim: reply lost: %s\n", std::strerror(errno));
                m_queue.pop_front();
                continue;
            }
            head.sent += static_cast<std::size_t>(written);
            head.chunkLeft -= static_cast<std::size_t>(written);
            if (head.chunkLeft > 0)
                return Continue;
            if (head.sent < end) {
                m_due = now + std::chrono::milliseconds(head.plan.gapMs);
                continue;
            }
        }
        bool hangUp = head.plan.hangupAfter >= 0;
        m_queue.pop_front();
        if (hangUp)
            return HangUp;
        if (!m_queue.empty())
            m_due = now + std::chrono::milliseconds(m_queue.front().plan.delayMs);
    }
    return Continue;
}

}  // namespace satsim
