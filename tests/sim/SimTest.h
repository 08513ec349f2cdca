// The simulator tested without the library: a minimal client opens
// /dev/ttyACM0 inside the harness raw, writes requests framed with the codec
// and reads the replies.
#ifndef SATVARO_TESTS_SIM_SIMTEST_H
#define SATVARO_TESTS_SIM_SIMTEST_H

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "codec/Message.h"
#include "sim/SatDevice.h"

class DeviceClient {
public:
    DeviceClient();
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
    };
    // Reads until one message completes (or fails to parse), the line goes
    // away or `timeout` passes (state then PARSER_IN_PROGRESS).
    Reply receive(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // send and receive: the plain reply body, or "" when none came.
    std::string call(const std::string& code, const std::string& body);

private:
    int m_fd = -1;
    zeph::Message m_parser;
    std::string m_pending;  // bytes read past the last message
};

// The plain body of a reply message (uncompressed when it came compressed).
std::string plainBody(const zeph::Message& message);

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.isOpen()) << "run under satvaro-harness"; }

    // The reply's fields, split at "|" with empty ones kept, trailing ones too.
    std::vector<std::string> call(const std::string& code, const std::string& body) {
        std::vector<std::string> fields(1);
        for (char c : client.call(code, body)) {
            if (c == '|') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        return fields;
    }

    // Result code (EEEEE) of a command.
    std::string result(const std::string& code, const std::string& body) {
        return call(code, body).at(1);
    }

    // Activates the device (session 000001, activation code 12345678) for
    // the taxpayer of examples/venda.xml.
    void activate() {
        ASSERT_EQ("04000", result("AtivarSAT", std::string("000001|1|12345678|") +
                                                   satsim::SatDevice::TEST_TAXPAYER_CNPJ + "|35"));
    }

    DeviceClient client;
};

#endif
