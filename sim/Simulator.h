// The simulated SAT device: reads requests from its line, records them,
// answers each as the device state says, shaped by the faults in force.
#ifndef SATVARO_SIM_SIMULATOR_H
#define SATVARO_SIM_SIMULATOR_H

#include <csignal>
#include <string>

#include "DeviceLink.h"
#include "Faults.h"
#include "RequestJournal.h"
#include "RequestReader.h"
#include "Transmitter.h"
#include "sim/SatDevice.h"

namespace satsim {

struct SimulatorOptions {
    std::string stateDir;
    std::string linkPath;
    DeviceSettings device;
};

class Simulator {
public:
    explicit Simulator(const SimulatorOptions& options);

    // Plugs the device in; DIR/ready then names its slave (and again after
    // every unplug). False with `error` set when it cannot.
    bool start(std::string& error);
    // Serves until `stop` becomes non-zero; signals that set it must be
    // blocked by the caller and are let through only while waiting.
    int serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    using Clock = Transmitter::Clock;

    void readLine(size_t most);
    // How many bytes of the request under way may still be read: SIZE_MAX
    // unless a stall after `stall` bytes is in force (-1: none). Dropping
    // the stall drops that request.
    size_t readable(long stall);
    void handle(const Request& request);
    void goOnWhenRead(Clock::time_point now);
    void hangUp();

    SimulatorOptions m_options;
    DeviceLink m_link;
    RequestReader m_reader;
    size_t m_requestBytes = 0;  // of the request under way
    bool m_stalled = false;
    RequestJournal m_journal;
    FaultFile m_faults;
    SatDevice m_device;
    Transmitter m_transmitter;
    // An unplug, or a part of a reply sent apart, waits for the bytes
    // written so far to be read; then the line goes down or the rest follows.
    bool m_waitingForReader = false;
    bool m_hangUpWhenRead = false;
    Clock::time_point m_readEarliest;
    Clock::time_point m_readLatest;
};

}  // namespace satsim

#endif
