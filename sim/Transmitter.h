// Writes the planned transmissions to the line one after the other, each
// with its own pacing, without ever blocking the device's reading.
#ifndef SATVARO_SIM_TRANSMITTER_H
#define SATVARO_SIM_TRANSMITTER_H

#include <chrono>
#include <cstddef>
#include <deque>

#include "ReplyWire.h"

namespace satsim {

class Transmitter {
public:
    using Clock = std::chrono::steady_clock;

    // Queues a transmission; its delay starts when the previous one is done.
    void enqueue(Transmission plan, Clock::time_point now);
    // Drops everything not yet sent (the line went away).
    void clear();

    bool idle() const { return m_queue.empty(); }
    // Milliseconds until something is due (0: now), or -1 when idle.
    int msUntilDue(Clock::time_point now) const;

    enum Outcome { Continue, HangUp, AwaitReader };
    // Writes what is due on the non-blocking descriptor `fd`; HangUp when a
    // transmission reached the point where the line must be hung up,
    // AwaitReader when it reached one of its breaks (call again once the
    // reader took what was written).
    Outcome writeDue(int fd, Clock::time_point now);

private:
    struct Pending {
        Transmission plan;
        std::size_t sent = 0;       // bytes written so far
        std::size_t chunkLeft = 0;  // bytes left of the current write
        std::size_t breaksPassed = 0;
    };

    std::size_t limit(const Pending& pending) const;
    std::size_t nextStop(const Pending& pending) const;
    bool finishHead(Clock::time_point now);

    std::deque<Pending> m_queue;
    Clock::time_point m_due;
};

}  // namespace satsim

#endif
