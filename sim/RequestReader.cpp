#include "RequestReader.h"

#include <cstdio>

namespace satsim {

std::vector<Request> RequestReader::feed(const char* data, std::size_t length) {
    std::vector<Request> complete;
    zeph::parseEach(m_parser, data, length, [&](zeph::Message::ParserState state) {
        if (state == zeph::Message::PARSER_MESSAGE_READY) {
            complete.push_back(take());
        } else if (state != zeph::Message::PARSER_IN_PROGRESS) {
            std::string raw;
            int position = 0;
            m_parser.lastParsingState(raw, position);
            std::fprintf(
                stderr,
                "satvaro-sim: dropped a damaged request (%zu header bytes, scanner at %d)\n",
                raw.size(), position);
        }
        return true;
    });
    return complete;
}

void RequestReader::reset() {
    m_parser = zeph::Message();
}

// The parser keeps the raw header block of the message it just completed;
// with the body as received that is the message exactly as it came in.
Request RequestReader::take() {
    Request request;
    int position = 0;
    m_parser.lastParsingState(request.wire, position);
    request.wire += m_parser.body();
    request.code = m_parser.code();
    zeph::Message plain(m_parser);
    if (plain.isCompressed() && plain.uncompress() != 0)
        request.readable = false;
    request.body = plain.body();
    return request;
}

}  // namespace satsim
