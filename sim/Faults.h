// Misbehaving on purpose. DIR/faults holds lines "<scope> <fault> [args]":
// the scope is a command name, "*" (every request) or "next" (the next
// request only; such lines are removed once used). The faults of every
// matching line apply together; for the same fault a later line wins.
#ifndef SATVARO_SIM_FAULTS_H
#define SATVARO_SIM_FAULTS_H

#include <array>
#include <string>
#include <vector>

namespace satsim {

struct Faults {
    int delayMs = 0;  // delay MS
    int pieces = 0;   // pieces N MS
    int piecesGapMs = 0;
    int dribbleMs = -1;           // dribble MS
    int noise = 0;                // noise N
    std::string staleCode;        // stale CODE
    int wrongCodes = 0;           // wrongcode N
    bool badCrc = false;          // badcrc
    bool syntax = false;          // syntax
    bool crNoLf = false;          // crnolf
    long headerBytes = 0;         // headerbytes N
    bool hasContentSize = false;  // contentsize TEXT
    std::string contentSize;
    bool silence = false;   // silence
    long unplugAfter = -1;  // unplug BYTES
    bool plain = false;     // plain
    bool hasBody = false;   // body TEXT
    std::string body;
    long bodySize = 0;      // bodysize N
    bool bomb = false;      // bomb
    bool hasDelta = false;  // delta A B C D E F
    std::array<std::string, 6> delta;
    int trailing = 0;    // trailing N
    bool apart = false;  // apart
};

// Applies one fault line (without its scope) to `faults`; false, with
// `error` set, when the fault is unknown or its arguments are not valid.
bool applyFault(const std::string& fault, Faults& faults, std::string& error);

// The faults that stand for as long as their lines are there (scope "*").
struct StandingFaults {
    // N of a line "* stall N": the device reads no more of a request once N
    // of its bytes came. -1 without one.
    long stallAfter = -1;
    // A line "* hold": replies are held back.
    bool holding = false;
};

// The faults file of a state directory.
class FaultFile {
public:
    explicit FaultFile(const std::string& stateDir);

    // The faults for one request of `command`; consumes the "next" lines.
    // Lines that cannot be understood are reported on stderr and skipped.
    Faults forRequest(const std::string& command);
    // The standing faults now (the first line of each counts).
    StandingFaults standing() const;

private:
    std::string m_path;
};

}  // namespace satsim

#endif
