// A pty pair for tests that play the device themselves, without the
// harness: the test speaks on the master while the code under test opens
// slavePath(). The slave is raw; the pair keeps its own slave descriptor
// open, so the line stays up while others open and close it.
#ifndef SATVARO_TESTS_SUPPORT_PTYPAIR_H
#define SATVARO_TESTS_SUPPORT_PTYPAIR_H

#include <chrono>
#include <string>

#include "codec/Message.h"
#include "sim/Pty.h"

class PtyPair {
public:
    PtyPair();  // opens the pair; see ok() and error()
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return m_ends.master >= 0; }
    const std::string& error() const { return m_error; }
    const std::string& slavePath() const { return m_ends.slavePath; }

    // Hangs the line up, as when the device is unplugged.
    void closeMaster();

    // Writes all of `bytes` to the master within `timeout`.
    bool writeAll(const std::string& bytes,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // One whole message from the line. Fails the running test when none
    // arrives within `timeout`, when it is damaged or when bytes follow it
    // in the same read.
    zeph::Message readMessage(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Returns once the slave's side has read everything written so far;
    // fails the running test when that takes more than 10 s.
    void waitUntilTaken();

private:
    satsim::PtyEnds m_ends;
    std::string m_error;
};

#endif
