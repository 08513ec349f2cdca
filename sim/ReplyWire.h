// The bytes the device sends back for one request: the reply message in
// wire form (compressed unless told otherwise), shaped by the faults, and
// how to pace them on the line.
#ifndef SATVARO_SIM_REPLYWIRE_H
#define SATVARO_SIM_REPLYWIRE_H

#include <cstddef>
#include <string>
#include <vector>

#include "Faults.h"

namespace satsim {

// The reply message for `command` with body `body`, with the message-level
// faults applied (plain, body, bodysize, bomb, delta, badcrc, syntax,
// crnolf, headerbytes, contentsize).
std::string replyMessage(const std::string& command, const std::string& body, const Faults& faults);

// One request's output: what to write and how.
struct Transmission {
    std::string bytes;
    int delayMs = 0;        // before the first byte
    std::size_t chunk = 0;  // bytes per write; 0 = all at once
    int gapMs = 0;          // between writes
    long hangupAfter = -1;  // hang the line up after this many bytes
    // Offsets at which everything before must have been read from the line
    // before the rest is written.
    std::vector<std::size_t> breaks;
};

// Everything sent for one request: noise, stale and wrong-code replies, the
// reply itself and trailing noise, paced as the faults say (with "apart",
// each part but the trailing noise waits until the one before was read).
// False when the device stays silent.
bool planTransmission(const std::string& command, const std::string& body, const Faults& faults,
                      Transmission& plan);

}  // namespace satsim

#endif
