// The device end of a real pty pair: the channel opens the slave path, the
// test speaks the wire form on the master.
#ifndef SATVARO_TESTS_SERIAL_PTYDEVICE_H
#define SATVARO_TESTS_SERIAL_PTYDEVICE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "codec/Message.h"

class PtyDevice {
public:
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& slavePath() const { return m_slavePath; }

    // One whole message from the line; fails the test after 20 s.
    zeph::Message readMessage();
    void write(const std::string& bytes);
    // Returns once the channel has read everything written so far (bounded).
    void waitUntilTaken();
    // The device goes away: the channel's end hangs up.
    void unplug();

private:
    int m_master;
    int m_slaveProbe;  // a second slave descriptor, to look at its input queue
    std::string m_slavePath;
};

// The wire form of a reply with `code` and `body`, compressed like a device's.
std::string replyWire(const std::string& code, const std::string& body);

// The day files of the log below the working directory, with their sizes.
std::map<std::filesystem::path, std::uintmax_t> logFiles();

// Lines "[stamp] - [level, message]" appended to the day's log file after
// the point where the cursor was made.
class LogCursor {
public:
    LogCursor();
    // "level|message" of every new line, in order.
    std::vector<std::string> lines() const;
    int count(const std::string& level, const std::string& message) const;

private:
    std::map<std::filesystem::path, std::uintmax_t> m_start;
};

#endif
