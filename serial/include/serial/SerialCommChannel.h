// The serial link to the fiscal device for one transaction: discovery of its
// CDC-ACM node, raw 38400-baud setup, chunked sends and a polling receive
// that feeds the message parser until the expected reply, an error or the
// time-out.
#ifndef SATVARO_SERIAL_SERIALCOMMCHANNEL_H
#define SATVARO_SERIAL_SERIALCOMMCHANNEL_H

#include <unistd.h>

#include <optional>
#include <string>

#include "codec/Message.h"
#include "satvaro.h"
#include "serial/Deadline.h"
#include "serial/DeviceLock.h"

namespace serial {

// The device's pacing: it turns round for this long after the last byte of a
// request before we read, and rests this long after its line was closed.
inline constexpr useconds_t PAUSE_AFTER_SEND_US = 100000;
inline constexpr useconds_t REST_AFTER_CLOSE_US = 1000000;

// connect_client's result when another exchange kept the device until the
// time-out ran out.
inline constexpr int CONNECT_BUSY = -2;
// A time-out that never runs out.
inline constexpr int NO_TIME_LIMIT = -1;

class SerialCommChannel {
public:
    SerialCommChannel();
    virtual ~SerialCommChannel();  // disconnects
    SerialCommChannel(const SerialCommChannel&) = delete;
    SerialCommChannel& operator=(const SerialCommChannel&) = delete;

    // "/dev/ttyACMn" from the /dev/serial/by-id listing; nothing when absent.
    std::optional<std::string> findUsbDevice();
    // "/dev/<node>" from the sysfs device whose idVendor is SERIAL_VENDOR_ID.
    std::optional<std::string> findUsbDeviceByVendorId();

    // 0, -1 for an empty path, or errno when the node is not a terminal.
    int openSerial(const std::string& path);
    int statusErro();
    // Finds the device (or takes the terminal node SATVARO_DEVICE names,
    // when set and not empty), waits until no other exchange holds it, opens it.
    // The device stays reserved to this channel until it is destroyed, which
    // comes after the pause that follows closing it. The wait counts in the
    // exchange's time-out `timeoutMs`. 0, -1 (no device, or a named node
    // that is none: logged), CONNECT_BUSY (nothing was opened) or
    // openSerial's result.
    int connect_client(int timeoutMs = NO_TIME_LIMIT);
    void disconnect_client();
    bool serialIsValid();  // waits 1 s before answering false
    int flushSerialIn();
    int flushSerialOut();
    std::string getTimer();

    // One write; send_data waits for each chunk to be transmitted.
    int send(const char* data, unsigned int length);
    int receive(char* buffer, unsigned long length);
    // Sends the whole message. A device that stops taking bytes ends it, as
    // a failure, when the exchange's time-out (connect_client's) runs out.
    int send_data(zeph::Message& message);
    // Returns a SatvaroStatus; `reply` changes only when a reply is accepted.
    int receive_data(const char* expectedCode, zeph::Message& reply, int timeoutMs);

private:
    struct Reception;

    int sendWithin(const char* data, unsigned long length, const Deadline& deadline);
    // Judges one parse result of the reply being read: a reply taken, one
    // refused, an error logged. The state the exchange goes on from.
    zeph::Message::ParserState judge(zeph::Message::ParserState parsed, zeph::Message& incoming,
                                     zeph::Message& reply, Reception& reception);
    bool refuse(const zeph::Message& message, Reception& reception);
    // Counts a failed transfer; the 500th in a row closes the
    // port. True when it did.
    bool closedAfterRepeatedFailure();

    int m_fd;
    unsigned int m_failCount;
    Deadline::Clock::time_point m_timeRef;  // where the exchange's time-out counts from
    Deadline::Clock::duration m_waited;     // spent waiting for the device
    int m_timeoutMs;                        // the exchange's, as connect_client got it
    DeviceLock m_lock;                      // released after everything above
};

}  // namespace serial

#endif
