// State behind one zeph::Message: the record (code, source id, header map,
// body) and the incremental scanner that fills it from the wire.
// Private to the codec; never installed.
#ifndef SATVARO_CODEC_MESSAGEPRIVATE_H
#define SATVARO_CODEC_MESSAGEPRIVATE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "codec/Message.h"

namespace zeph {

class MessagePrivate {
public:
    // Scanner positions kept in scanState / lastScanState.
    enum ScanState {
        SCAN_S = 1,  // idle: waiting for the "s" of "smx"
        SCAN_M = 2,
        SCAN_X = 3,
        SCAN_SPEC_CR = 4,    // CR ending the "smx" line
        SCAN_SPEC_LF = 5,    // LF ending the "smx" line
        SCAN_HEADER = 6,     // any header byte
        SCAN_HEADER_LF = 7,  // LF after a CR inside the header block
        SCAN_BODY = 8,       // body bytes
        SCAN_EMPTY_BODY = 9  // only recorded: a message with content-size 0 completed
    };

    // The header block may hold this many bytes up to and including its last CR.
    static constexpr std::uint64_t MAX_HEADER_LENGTH = 4096;

    MessagePrivate();
    MessagePrivate(const std::string& code, const std::string& source);
    MessagePrivate(const MessagePrivate& other);  // every field but headerBuffer
    MessagePrivate& operator=(const MessagePrivate&) = delete;

    // Takes bytes until a message completes (1 or 3), the bytes break the
    // message (2) or run out (0). Adds the bytes taken to *consumed when not
    // null: up to and including the deciding byte, or all of them on 0.
    Message::ParserState parse(const char* data, unsigned long length, unsigned long* consumed);

    // Validates headerBuffer and, when valid, makes its entries the header
    // map and sets code, sourceId and contentSize from them. On failure the
    // map keeps the entries stored so far; code, sourceId and body are kept.
    bool processHeaders();

    // True when the CRC-16 of the body equals the "edc-word" entry.
    bool bodyIntegrityIsOk() const;

    // Value of an entry, or "" when absent; never adds one.
    std::string headerValue(const std::string& name) const;
    bool hasHeader(const std::string& name) const;

    // Replaces the body and marks it plain (content-type, content-size).
    void setBody(const char* data, std::size_t length);

    std::int32_t scanState;
    std::int32_t lastScanState;
    std::string code;
    std::string sourceId;
    std::uint64_t headerLength;
    std::int32_t crlfCount;
    std::uint64_t contentSize;
    std::string body;
    std::map<std::string, std::string> headers;
    std::string headerBuffer;
    std::string lastHeaderBuffer;

private:
    void takeHeaderByte(char byte);
    void restartScan(std::int32_t recordedState);
    Message::ParserState stop(Message::ParserState result, std::int32_t recordedState,
                              unsigned long taken, unsigned long* consumed);
};

}  // namespace zeph

#endif
