#include "Transmitter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <utility>

#include "common/RetryOnSignal.h"

namespace satsim {

void Transmitter::enqueue(Transmission plan, Clock::time_point now) {
    if (m_queue.empty())
        m_due = now + std::chrono::milliseconds(plan.delayMs);
    Pending pending;
    pending.plan = std::move(plan);
    m_queue.push_back(std::move(pending));
}

void Transmitter::clear() {
    m_queue.clear();
}

int Transmitter::msUntilDue(Clock::time_point now) const {
    if (m_queue.empty())
        return -1;
    if (m_due <= now)
        return 0;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_due - now).count();
    return static_cast<int>(left) + 1;
}

// The bytes this transmission may send at all: up to the hang-up point.
std::size_t Transmitter::limit(const Pending& pending) const {
    std::size_t size = pending.plan.bytes.size();
    if (pending.plan.hangupAfter >= 0 && static_cast<std::size_t>(pending.plan.hangupAfter) < size)
        return static_cast<std::size_t>(pending.plan.hangupAfter);
    return size;
}

// Where the current write must end at the latest: the next break, or the limit.
std::size_t Transmitter::nextStop(const Pending& pending) const {
    const std::vector<std::size_t>& breaks = pending.plan.breaks;
    if (pending.breaksPassed < breaks.size())
        return std::min(breaks[pending.breaksPassed], limit(pending));
    return limit(pending);
}

Transmitter::Outcome Transmitter::writeDue(int fd, Clock::time_point now) {
    while (!m_queue.empty() && m_due <= now) {
        Pending& head = m_queue.front();
        std::size_t end = limit(head);
        if (head.sent < end) {
            if (head.chunkLeft == 0)
                head.chunkLeft = std::min(nextStop(head) - head.sent,
                                          head.plan.chunk == 0 ? end : head.plan.chunk);
            ssize_t written = retryOnSignal(
                [&] { return ::write(fd, head.plan.bytes.data() + head.sent, head.chunkLeft); });
            if (written < 0 && errno == EAGAIN)
                return Continue;  // the reader is behind; poll tells when to go on
            if (written < 0) {
                std::fprintf(stderr, "satvaro-sim: reply lost: %s\n", std::strerror(errno));
                head.sent = end;
            } else {
                head.sent += static_cast<std::size_t>(written);
                head.chunkLeft -= static_cast<std::size_t>(written);
                if (head.chunkLeft > 0)
                    return Continue;
                if (head.sent < end) {
                    m_due = now + std::chrono::milliseconds(head.plan.gapMs);
                    if (head.breaksPassed < head.plan.breaks.size() &&
                        head.sent == head.plan.breaks[head.breaksPassed]) {
                        ++head.breaksPassed;
                        return AwaitReader;
                    }
                    continue;
                }
            }
        }
        if (finishHead(now))
            return HangUp;
    }
    return Continue;
}

// Drops the finished head; true when the line must now be hung up.
bool Transmitter::finishHead(Clock::time_point now) {
    bool hangUp = m_queue.front().plan.hangupAfter >= 0;
    m_queue.pop_front();
    if (!m_queue.empty())
        m_due = now + std::chrono::milliseconds(m_queue.front().plan.delayMs);
    return hangUp;
}

}  // namespace satsim
