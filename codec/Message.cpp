#include "codec/Message.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>

#include "MessagePrivate.h"
#include "codec/zeph.h"

namespace zeph {

namespace {

// The bytes that open every message: "smx" CR LF.
constexpr char SPECIFIER_LINE[] = {'s', 'm', 'x', '\r', '\n'};

// The header block is complete at the third CR LF in a row: the one ending
// the last header line plus the two empty lines the writer adds.
constexpr std::int32_t CRLF_ENDING_HEADERS = 3;

// Upper bound of what announced body sizes make us reserve before the bytes
// arrive: a bogus content-size must not allocate gigabytes, while ordinary
// replies still land in a single allocation.
constexpr std::uint64_t BODY_RESERVE_LIMIT = 4u << 20;

// compress()/uncompress() on a message not in the form they convert from.
constexpr int NOT_CONVERTIBLE = -100;

// The largest uncompressed body we agree to allocate (one byte under 20 MiB).
constexpr std::int32_t MAX_UNCOMPRESSED_SIZE = 20971519;

// Header numbers are read the way strtol reads them (leading blanks, one
// sign, digits up to the first non-digit, 0 without digits), then narrowed
// to 32 bits like every number the device and this codec exchange. Read in
// 64 bits on every target: a 32-bit long would saturate what it should narrow.
std::int32_t headerNumber(const std::string& text) {
    return static_cast<std::int32_t>(std::strtoll(text.c_str(), nullptr, 10));
}

// The body length a "content-size" announces, read as strtol reads it. Text
// without digits, a negative number or one beyond 32 bits is no size: read as
// 0 it would pass the body bytes off as noise and the message as complete, and
// narrowed to 32 bits it could announce anything. (strtoll: where long has 32
// bits, strtol would take any larger number for INT32_MAX.)
bool announcedBodySize(const std::string& text, std::uint64_t& size) {
    const char* const digits = text.c_str();
    char* end = nullptr;
    const long long value = std::strtoll(digits, &end, 10);
    if (end == digits || value < 0 || value > INT32_MAX) {
        return false;
    }
    size = static_cast<std::uint64_t>(value);
    return true;
}

// Sizes go on the wire as signed 32-bit values.
int narrowSize(std::uint64_t size) {
    return static_cast<int>(size);
}

std::uint16_t bodyCrc(const std::string& body) {
    return crc16_ccitt(body.data(), narrowSize(body.size()));
}

}  // namespace

// ---- MessagePrivate -------------------------------------------------------

MessagePrivate::MessagePrivate() : MessagePrivate("0", "0") {}

MessagePrivate::MessagePrivate(const std::string& messageCode, const std::string& source)
    : scanState(SCAN_S),
      lastScanState(0),
      code(messageCode),
      sourceId(source),
      headerLength(0),
      crlfCount(0),
      contentSize(0),
      headers{{HDR_VERSION, HDR_VERSION_NUMBER}, {HDR_CODE, messageCode}, {HDR_SOURCE, source}} {}

// A copy never continues a half-collected header block.
MessagePrivate::MessagePrivate(const MessagePrivate& other)
    : scanState(other.scanState),
      lastScanState(other.lastScanState),
      code(other.code),
      sourceId(other.sourceId),
      headerLength(other.headerLength),
      crlfCount(other.crlfCount),
      contentSize(other.contentSize),
      body(other.body),
      headers(other.headers),
      lastHeaderBuffer(other.lastHeaderBuffer) {}

std::string MessagePrivate::headerValue(const std::string& name) const {
    const auto entry = headers.find(name);
    return entry == headers.end() ? std::string() : entry->second;
}

bool MessagePrivate::hasHeader(const std::string& name) const {
    return headers.find(name) != headers.end();
}

void MessagePrivate::setBody(const char* data, std::size_t length) {
    body.assign(data, length);
    headers[HDR_CONTENT_TYPE] = HDR_CONTENT_OCTET_STREAM;
    headers[HDR_CONTENT_SIZE] = to_string(narrowSize(length));
}

bool MessagePrivate::bodyIntegrityIsOk() const {
    return bodyCrc(body) == headerNumber(headerValue(HDR_EDC_WORD));
}

void MessagePrivate::takeHeaderByte(char byte) {
    headerBuffer.push_back(byte);
    ++headerLength;
}

// Back to idle; what was collected becomes what lastParsingState reports.
void MessagePrivate::restartScan(std::int32_t recordedState) {
    crlfCount = 0;
    contentSize = 0;
    lastHeaderBuffer.swap(headerBuffer);
    lastScanState = recordedState;
    headerBuffer.clear();
    headerLength = 0;
    scanState = SCAN_S;
}

Message::ParserState MessagePrivate::stop(Message::ParserState result, std::int32_t recordedState,
                                          unsigned long taken, unsigned long* consumed) {
    restartScan(recordedState);
    if (consumed != nullptr) {
        *consumed += taken;
    }
    return result;
}

Message::ParserState MessagePrivate::parse(const char* data, unsigned long length,
                                           unsigned long* consumed) {
    unsigned long pos = 0;
    while (pos < length) {
        const std::int32_t state = scanState;
        if (state == SCAN_BODY) {
            // Body bytes are not looked at: take as many as the message still
            // needs in one go (at least the current byte).
            const std::uint64_t wanted = contentSize > body.size() ? contentSize - body.size() : 1;
            const unsigned long taken =
                static_cast<unsigned long>(std::min<std::uint64_t>(wanted, length - pos));
            body.append(data + pos, taken);
            pos += taken;
            if (body.size() >= contentSize) {
                const auto result = bodyIntegrityIsOk() ? Message::PARSER_MESSAGE_READY
                                                        : Message::PARSER_CHECKSUM_ERROR;
                return stop(result, SCAN_BODY, pos, consumed);
            }
            continue;
        }

        const char byte = data[pos++];
        if (state >= SCAN_S && state <= SCAN_SPEC_LF) {
            takeHeaderByte(byte);
            if (byte == SPECIFIER_LINE[state - SCAN_S]) {
                scanState = state + 1;
            } else {
                // Not the start of a message: drop what was collected,
                // including this byte, and keep looking.
                restartScan(state);
            }
        } else if (state == SCAN_HEADER) {
            takeHeaderByte(byte);
            if (headerLength > MAX_HEADER_LENGTH) {
                return stop(Message::PARSER_SYNTAX_ERROR, state, pos, consumed);
            }
            if (byte == '\r') {
                scanState = SCAN_HEADER_LF;
            } else {
                crlfCount = 0;
            }
        } else if (state == SCAN_HEADER_LF) {
            takeHeaderByte(byte);
            if (byte != '\n') {
                return stop(Message::PARSER_SYNTAX_ERROR, state, pos, consumed);
            }
            if (++crlfCount < CRLF_ENDING_HEADERS) {
                scanState = SCAN_HEADER;
                continue;
            }
            if (!processHeaders()) {
                return stop(Message::PARSER_SYNTAX_ERROR, state, pos, consumed);
            }
            body.clear();
            if (contentSize == 0) {
                return stop(Message::PARSER_MESSAGE_READY, SCAN_EMPTY_BODY, pos, consumed);
            }
            body.reserve(std::min(contentSize, BODY_RESERVE_LIMIT));
            scanState = SCAN_BODY;
        } else {
            return stop(Message::PARSER_SYNTAX_ERROR, state, pos, consumed);
        }
    }
    if (consumed != nullptr) {
        *consumed += length;
    }
    return Message::PARSER_IN_PROGRESS;
}

bool MessagePrivate::processHeaders() {
    const std::string specifier = HDR_MSG_SPECIFIER + HDR_TERMINATION;
    std::size_t pos = headerBuffer.find(specifier);
    if (pos == std::string::npos) {
        return false;
    }
    pos += specifier.size();
    headers.clear();

    // "name:value" lines up to the first empty one. Nothing is trimmed: a
    // blank or a bare LF belongs to the name or the value.
    for (;;) {
        const std::size_t end = headerBuffer.find(HDR_TERMINATION, pos);
        if (end == std::string::npos || end == pos) {
            break;
        }
        const std::size_t colon = headerBuffer.find(HDR_FIELD_SEPARATOR, pos);
        if (colon == std::string::npos || colon > end) {
            return false;
        }
        std::string name = headerBuffer.substr(pos, colon - pos);
        std::string value = headerBuffer.substr(colon + 1, end - colon - 1);
        const bool complete = !name.empty() && !value.empty();
        headers[std::move(name)] = std::move(value);
        if (!complete) {
            return false;
        }
        pos = end + HDR_TERMINATION.size();
    }

    if (headerValue(HDR_VERSION) != HDR_VERSION_NUMBER || !hasHeader(HDR_CONTENT_SIZE) ||
        !hasHeader(HDR_CODE) || !hasHeader(HDR_SOURCE) || !hasHeader(HDR_EDC_WORD)) {
        return false;
    }
    std::uint64_t size = 0;
    if (!announcedBodySize(headers[HDR_CONTENT_SIZE], size)) {
        return false;
    }
    code = headers[HDR_CODE];
    sourceId = headers[HDR_SOURCE];
    contentSize = size;
    return true;
}

// ---- Message --------------------------------------------------------------

Message::Message() : d(std::make_unique<MessagePrivate>()) {}

Message::Message(const std::string& code, const std::string& source)
    : d(std::make_unique<MessagePrivate>(code, source)) {}

Message::Message(const Message& other) : d(std::make_unique<MessagePrivate>(*other.d)) {}

Message& Message::operator=(const Message& other) {
    if (this != &other) {
        d = std::make_unique<MessagePrivate>(*other.d);
    }
    return *this;
}

Message::Message(Message&& other) noexcept = default;

Message& Message::operator=(Message&& other) noexcept = default;

Message::~Message() = default;

bool Message::operator==(const Message& other) const {
    return d->code == other.d->code && d->sourceId == other.d->sourceId &&
           d->headers == other.d->headers && d->body == other.d->body;
}

void Message::setCode(const std::string& code) {
    d->headers[HDR_CODE] = code;
    d->code = code;
}

void Message::setCode(int code) {
    setCode(to_string(code));
}

void Message::setSourceId(const std::string& source) {
    d->headers[HDR_SOURCE] = source;
    d->sourceId = source;
}

void Message::setSourceId(int source) {
    setSourceId(to_string(source));
}

std::string Message::code() const {
    return d->code;
}

std::string Message::sourceId() const {
    return d->sourceId;
}

void Message::setBody(const char* data, unsigned int length) {
    // A null pointer has no bytes to copy, whatever length comes with it.
    d->setBody(data != nullptr ? data : "", data != nullptr ? length : 0);
}

void Message::setBody(const std::string& body) {
    d->setBody(body.data(), body.size());
}

const std::string& Message::body() const {
    return d->body;
}

std::uint64_t Message::bodySize() const {
    return d->body.size();
}

const char* Message::bodyAsCString() const {
    return d->body.c_str();
}

void Message::addHeader(const std::string& name, const std::string& value) {
    d->headers[name] = value;
}

void Message::removeHeader(const std::string& name) {
    d->headers.erase(name);
}

bool Message::hasHeader(const std::string& name) const {
    return d->hasHeader(name);
}

std::string Message::header(const std::string& name) const {
    return d->headerValue(name);
}

std::string Message::headers() const {
    // The CRC covers the body as it will travel (compressed, if it is).
    std::map<std::string, std::string> written = d->headers;
    written[HDR_EDC_TYPE] = HDR_EDC_TYPE_CRC16;
    written[HDR_EDC_WORD] = to_string(bodyCrc(d->body));

    std::string text = HDR_MSG_SPECIFIER + HDR_TERMINATION;
    for (const auto& [name, value] : written) {
        text += name;
        text += HDR_FIELD_SEPARATOR;
        text += value;
        text += HDR_TERMINATION;
    }
    text += HDR_START_DATA;
    return text;
}

std::string Message::toString() const {
    std::string text = headers();
    text.reserve(text.size() + d->body.size());
    text += d->body;
    return text;
}

Message::ParserState Message::parse(const char* data, unsigned long length,
                                    unsigned long* consumed) {
    if (data == nullptr) {
        return PARSER_SYNTAX_ERROR;
    }
    return d->parse(data, length, consumed);
}

void Message::lastParsingState(std::string& text, int& state) const {
    text = d->lastHeaderBuffer;
    state = d->lastScanState;
}

std::string Message::parserStateName(ParserState state) {
    switch (state) {
    case PARSER_IN_PROGRESS:
        return "In progress";
    case PARSER_MESSAGE_READY:
        return "Message ready";
    case PARSER_SYNTAX_ERROR:
        return "Syntax error";
    case PARSER_CHECKSUM_ERROR:
        return "Checksum error";
    }
    return "Unknown";
}

std::uint64_t Message::pendingBodySize() const {
    return d->scanState == MessagePrivate::SCAN_BODY ? d->contentSize : 0;
}

std::uint64_t Message::compressedSizeBound(std::uint64_t plainSize) {
    return compressBound(static_cast<uLong>(plainSize));
}

int Message::compress() {
    if (d->headerValue(HDR_CONTENT_TYPE) != HDR_CONTENT_OCTET_STREAM) {
        return NOT_CONVERTIBLE;
    }
    const std::string& plain = d->body;
    d->headers[HDR_CONTENT_UNCOMPRESSED_SIZE] = to_string(narrowSize(plain.size()));

    uLongf packedLength = compressBound(plain.size());
    std::string packed(packedLength, '\0');
    const int result =
        compress2(reinterpret_cast<Bytef*>(&packed[0]), &packedLength,
                  reinterpret_cast<const Bytef*>(plain.data()), plain.size(), Z_BEST_COMPRESSION);
    if (result != Z_OK) {
        return result;
    }
    packed.resize(packedLength);
    d->headers[HDR_CONTENT_TYPE] = HDR_CONTENT_COMPRESSED;
    d->headers[HDR_CONTENT_SIZE] = to_string(narrowSize(packedLength));
    d->body.swap(packed);
    return 0;
}

int Message::uncompress() {
    if (d->headerValue(HDR_CONTENT_TYPE) != HDR_CONTENT_COMPRESSED) {
        return NOT_CONVERTIBLE;
    }
    // The announced size is checked before anything is allocated.
    const std::int32_t announced = headerNumber(d->headerValue(HDR_CONTENT_UNCOMPRESSED_SIZE));
    if (announced < 0 || announced > MAX_UNCOMPRESSED_SIZE) {
        return Z_MEM_ERROR;
    }

    uLongf plainLength = static_cast<uLongf>(announced);
    std::string plain(plainLength, '\0');
    const int result = ::uncompress(reinterpret_cast<Bytef*>(&plain[0]), &plainLength,
                                    reinterpret_cast<const Bytef*>(d->body.data()), d->body.size());
    if (result != Z_OK) {
        return result;
    }
    plain.resize(plainLength);
    d->headers[HDR_CONTENT_TYPE] = HDR_CONTENT_OCTET_STREAM;
    d->headers[HDR_CONTENT_SIZE] = to_string(narrowSize(plainLength));
    d->headers.erase(HDR_CONTENT_UNCOMPRESSED_SIZE);
    d->body.swap(plain);
    return 0;
}

bool Message::isCompressed() const {
    return d->hasHeader(HDR_CONTENT_UNCOMPRESSED_SIZE);
}

}  // namespace zeph
