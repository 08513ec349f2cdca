// A minimal SAT client for testing the simulator without the library: it
// opens the device node raw, writes framed requests built with the codec
// and reads framed replies.
#ifndef SATVARO_TESTS_SIM_DEVICECLIENT_H
#define SATVARO_TESTS_SIM_DEVICECLIENT_H

#include <chrono>
#include <string>
#include <vector>

#include "codec/Message.h"

class DeviceClient {
public:
    explicit DeviceClient(const std::string& node = "/dev/ttyACM0");
    ~DeviceClient();
    DeviceClient(const DeviceClient&) = delete;
    DeviceClient& operator=(const DeviceClient&) = delete;

    bool isOpen() const { return m_fd >= 0; }

    // Writes a request as the library frames it: source 3, compressed body.
    bool send(const std::string& code, const std::string& body);

    struct Reply {
        zeph::Message::ParserState state = zeph::Message::PARSER_IN_PROGRESS;
        zeph::Message message;  // as received: still compressed
        std::string bytes;      // everything read, the message included
        bool hungUp = false;    // the line went away
    };
    // Reads until one message completes (or fails to parse), the line goes
    // away or `timeout` passes (state then PARSER_IN_PROGRESS).
    Reply receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // send, receive and uncompress: the reply body, or "" when none came.
    std::string call(const std::string& code, const std::string& body);

private:
    int m_fd = -1;
    zeph::Message m_parser;
    std::string m_pending;  // bytes read past the last message
};

// Splits a reply at "|", keeping empty fields, trailing ones included.
std::vector<std::string> replyFields(const std::string& reply);

// The plain body of a reply message (uncompressed when it came compressed).
std::string plainBody(const zeph::Message& message);

#endif
