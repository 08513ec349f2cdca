#include "sim/Simulator.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <unistd.h>


namespace satsim {

Simulator::Simulator(const SimulatorOptions& options)
    : m_options(options),
      m_link(options.linkPath, options.stateDir + "/ready"),
      m_journal(options.stateDir),
      m_faults(options.stateDir),
      m_device(options.device)
{
}

bool Simulator::start(std::string& error)
{
    return m_journal.open(error) && m_link.plugIn(error);
}

int Simulator::serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask)
{
    while (!stop) {
        auto now = Transmitter::Clock::now();
        int dueMs = m_transmitter.msUntilDue(now);
        pollfd line {m_link.masterFd(), POLLIN, 0};
        if (dueMs == 0)
            line.events |= POLLOUT;
        timespec timeout {dueMs / 1000, (dueMs % 1000) * 1000000L};
        int ready = ::ppoll(&line, 1, dueMs > 0 ? &timeout : nullptr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::perror("satvaro-sim: ppoll");
            return 1;
        }
        if (line.revents & POLLIN)
            readLine();
        if (m_transmitter.writeDue(m_link.masterFd(), Transmitter::Clock::now()) == Transmitter::HangUp)
            hangUp();
    }
    m_link.unplug();
    return 0;
}

void Simulator::readLine()
{
    char buffer[65536];
    ssize_t count = ::read(m_link.masterFd(), buffer, sizeof buffer);
    if (count <= 0)
        return;
    for (const Request& request : m_reader.feed(buffer, static_cast<size_t>(count)))
        handle(request);
}

// The request is recorded before anything is sent back, so that whoever
// holds the reply also finds the request in the journal.
void Simulator::handle(const Request& request)
{
    m_journal.record(request);
    if (!request.readable) {
        std::fprintf(stderr, "satvaro-sim: a %s request did not uncompress; no reply\n", request.code.c_str());
        return;
    }
    Faults faults = m_faults.forRequest(request.code);
    std::string reply = m_device.answer(request.code, request.body);
    Transmission plan;
    if (planTransmission(request.code, reply, faults, plan))
        m_transmitter.enqueue(std::move(plan), Transmitter::Clock::now());
}

void Simulator::hangUp()
{
    m_transmitter.clear();
    m_reader.reset();
    std::string error;
    if (!m_link.replug(error))
        std::fprintf(stderr, "satvaro-sim: cannot come back after hanging up: %s\n", error.c_str());
}

}  // namespace satsim
