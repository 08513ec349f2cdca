#include "Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace satsim {

namespace {

// Hanging up a pty throws away what the other side has not read yet. A
// device unplugged mid-reply has still delivered the bytes it sent, so the
// line goes down only once the reader took them: after the bytes had time
// to pass the tty layer, and at the latest after READ_LATEST. Parts of a
// reply sent apart wait for the reader the same way.
const std::chrono::milliseconds READ_SETTLE(50);
const std::chrono::milliseconds READ_LATEST(2000);
const int READ_CHECK_MS = 5;
// A stalled device looks at its fault lines this often to see whether to
// read on, a held one to see whether to reply.
const int STALL_CHECK_MS = 20;

}  // namespace

Simulator::Simulator(const SimulatorOptions& options)
    : m_options(options),
      m_link(options.linkPath, options.stateDir + "/ready"),
      m_journal(options.stateDir),
      m_faults(options.stateDir),
      m_device(options.device) {}

bool Simulator::start(std::string& error) {
    return m_journal.open(error) && m_link.plugIn(error);
}

int Simulator::serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    while (!stop) {
        auto now = Clock::now();
        const StandingFaults standing = m_faults.standing();
        const bool held = standing.holding;
        int dueMs = m_waitingForReader ? READ_CHECK_MS : m_transmitter.msUntilDue(now);
        if (held && !m_waitingForReader && dueMs >= 0)
            dueMs = STALL_CHECK_MS;
        const size_t most = readable(standing.stallAfter);
        if (most == 0 && (dueMs < 0 || dueMs > STALL_CHECK_MS))
            dueMs = STALL_CHECK_MS;
        pollfd line{m_link.masterFd(), static_cast<short>(most > 0 ? POLLIN : 0), 0};
        if (dueMs == 0)
            line.events |= POLLOUT;
        timespec timeout{dueMs / 1000, (dueMs % 1000) * 1000000L};
        int ready = ::ppoll(&line, 1, dueMs > 0 ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            // Interrupted, not retried: the signal may be the one that asks
            // us to stop, which the loop's condition looks at.
            if (errno == EINTR)
                continue;
            std::perror("satvaro-sim: ppoll");
            return 1;
        }
        if (line.revents & POLLIN)
            readLine(most);
        now = Clock::now();
        if (m_waitingForReader) {
            goOnWhenRead(now);
        } else if (!held) {
            Transmitter::Outcome outcome = m_transmitter.writeDue(m_link.masterFd(), now);
            if (outcome != Transmitter::Continue) {
                m_waitingForReader = true;
                m_hangUpWhenRead = outcome == Transmitter::HangUp;
                m_readEarliest = now + READ_SETTLE;
                m_readLatest = now + READ_LATEST;
            }
        }
    }
    m_link.unplug();
    return 0;
}

size_t Simulator::readable(long stall) {
    if (stall < 0) {
        if (m_stalled) {
            m_reader.reset();
            m_requestBytes = 0;
            m_stalled = false;
        }
        return SIZE_MAX;
    }
    m_stalled = m_requestBytes >= static_cast<size_t>(stall);
    return m_stalled ? 0 : static_cast<size_t>(stall) - m_requestBytes;
}

void Simulator::readLine(size_t most) {
    char buffer[65536];
    ssize_t count = ::read(m_link.masterFd(), buffer, std::min(most, sizeof buffer));
    if (count <= 0)
        return;
    m_requestBytes += static_cast<size_t>(count);
    std::vector<Request> requests = m_reader.feed(buffer, static_cast<size_t>(count));
    if (!requests.empty())
        m_requestBytes = 0;
    for (const Request& request : requests)
        handle(request);
}

// The faults are taken before the request is recorded, so that faults
// written by whoever saw a request in the journal apply to later requests
// only; and the request is recorded before anything is sent back, so that
// whoever holds the reply also finds the request in the journal.
void Simulator::handle(const Request& request) {
    Faults faults = request.readable ? m_faults.forRequest(request.code) : Faults{};
    m_journal.record(request);
    if (!request.readable) {
        std::fprintf(stderr, "satvaro-sim: a %s request did not uncompress; no reply\n",
                     request.code.c_str());
        return;
    }
    std::string reply = m_device.answer(request.code, request.body);
    Transmission plan;
    if (planTransmission(request.code, reply, faults, plan))
        m_transmitter.enqueue(std::move(plan), Clock::now());
}

void Simulator::goOnWhenRead(Clock::time_point now) {
    if (now < m_readEarliest || (m_link.unreadBytes() > 0 && now < m_readLatest))
        return;
    m_waitingForReader = false;
    if (m_hangUpWhenRead)
        hangUp();
}

void Simulator::hangUp() {
    m_transmitter.clear();
    m_reader.reset();
    std::string error;
    if (!m_link.replug(error))
        std::fprintf(stderr, "satvaro-sim: cannot come back after hanging up: %s\n", error.c_str());
}

}  // namespace satsim
