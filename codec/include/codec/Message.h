// One device message: header map, code, source id and body, with its wire
// form ("smx" line, sorted "name:value" lines, two empty lines, body), an
// incremental parser of that form, and zlib compression of the body.
//
// Failures are results, never exceptions (allocation failure aside):
// parse() returns a ParserState, compress()/uncompress() return 0, -100
// (message not in the state the operation converts from) or a zlib code.
#ifndef SATVARO_CODEC_MESSAGE_H
#define SATVARO_CODEC_MESSAGE_H

#include <cstdint>
#include <memory>
#include <string>

namespace zeph {

class MessagePrivate;

class Message {
public:
    enum ParserState : int {
        PARSER_IN_PROGRESS = 0,    // every byte taken, message not complete
        PARSER_MESSAGE_READY = 1,  // a complete, valid message
        PARSER_SYNTAX_ERROR = 2,   // not a valid message; scanner reset
        PARSER_CHECKSUM_ERROR = 3  // complete, but the body fails its CRC
    };

    Message();
    Message(const std::string& code, const std::string& source);
    Message(const Message& other);  // deep copy; the header buffer starts empty
    Message& operator=(const Message& other);
    // Take the other's state, which may then only be assigned or destroyed.
    Message(Message&& other) noexcept;
    Message& operator=(Message&& other) noexcept;
    ~Message();

    // Code, source, header entries and body; scanner state is ignored.
    bool operator==(const Message& other) const;

    void setCode(const std::string& code);
    void setCode(int code);
    void setSourceId(const std::string& source);
    void setSourceId(int source);
    std::string code() const;
    std::string sourceId() const;

    // Setting a body marks it plain: content-type "octet-stream" and
    // content-size its length. Zero bytes are kept.
    void setBody(const char* data, unsigned int length);
    void setBody(const std::string& body);
    const std::string& body() const;
    std::uint64_t bodySize() const;
    const char* bodyAsCString() const;  // NUL-terminated; valid until the body changes

    // addHeader never touches code()/sourceId(), even for "code"/"source".
    void addHeader(const std::string& name, const std::string& value);
    void removeHeader(const std::string& name);
    bool hasHeader(const std::string& name) const;
    std::string header(const std::string& name) const;  // "" when absent

    // Both write "edc-type" and "edc-word" (the CRC of the body as stored)
    // among the headers; the message itself does not change.
    std::string headers() const;   // header block only
    std::string toString() const;  // whole wire form

    // Feeds `length` bytes; adds the bytes taken to *consumed (may be null).
    // After a result other than PARSER_IN_PROGRESS, call again with the rest.
    ParserState parse(const char* data, unsigned long length, unsigned long* consumed);
    // What the scanner last completed or discarded, and where.
    void lastParsingState(std::string& text, int& state) const;
    static std::string parserStateName(ParserState state);

    // Once a header block is read and while its body is still arriving: the
    // body size it announced; otherwise 0.
    std::uint64_t pendingBodySize() const;

    int compress();             // plain -> zlib level 9
    int uncompress();           // zlib -> plain, at most 20,971,519 bytes announced
    bool isCompressed() const;  // has "content-uncompressed-size"
    // The most that compress() can make of a body of `plainSize` bytes.
    static std::uint64_t compressedSizeBound(std::uint64_t plainSize);

private:
    std::unique_ptr<MessagePrivate> d;
};

// Feeds `length` bytes to `parser`, one parse() at a time, and hands each
// result to `each`: a complete message or an error, or PARSER_IN_PROGRESS
// once the rest was taken inside a message. Stops when the bytes are used up
// or `each` returns false. Returns how many bytes were taken.
template <typename Each>
unsigned long parseEach(Message& parser, const char* data, unsigned long length, Each&& each) {
    unsigned long consumed = 0;
    while (consumed < length && each(parser.parse(data + consumed, length - consumed, &consumed))) {
    }
    return consumed;
}

}  // namespace zeph

#endif
