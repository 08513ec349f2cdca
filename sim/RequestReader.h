// Cuts the byte stream arriving at the device into request messages.
#ifndef SATVARO_SIM_REQUESTREADER_H
#define SATVARO_SIM_REQUESTREADER_H

#include <cstddef>
#include <string>
#include <vector>

#include "codec/Message.h"

namespace satsim {

struct Request {
    std::string code;      // the message code: the command name
    std::string body;      // the body, uncompressed when it came compressed
    std::string wire;      // the message's bytes exactly as received
    bool readable = true;  // false when a compressed body did not uncompress
};

class RequestReader {
public:
    // Feeds received bytes; returns the requests they completed, in order.
    // Damaged messages (syntax or checksum errors) are reported on stderr
    // and dropped, as a device that cannot read a request stays silent.
    std::vector<Request> feed(const char* data, std::size_t length);
    // Forgets a partly received message (the line was hung up).
    void reset();

private:
    Request take();

    zeph::Message m_parser;
};

}  // namespace satsim

#endif
