// Feeds arbitrary bytes to one receiving message the way the serial link
// does: in chunks, calling again on the rest of a chunk after every result
// other than "in progress", and decompressing every message read. The cut
// points come from the input itself. Whatever is read must also survive
// being written out and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/Message.h"

namespace {

using zeph::Message;

// The longest header block the reader accepts, final LF included.
constexpr std::size_t MAX_HEADER_BLOCK = 4097;

// Input layout: the low three bits of byte 0 say how many chunk-length
// bytes follow (each value + 1 is one chunk length, used in turn); the rest
// is the byte stream. With no lengths the stream arrives in one call.
struct Chunks {
    const std::uint8_t* lengths;
    std::size_t lengthCount;
    std::size_t next = 0;

    std::size_t take(std::size_t left) {
        if (lengthCount == 0) {
            return left;
        }
        const std::size_t length = lengths[next++ % lengthCount] + 1u;
        return length < left ? length : left;
    }
};

void expectReadBack(const Message& received) {
    const std::string head = received.headers();
    if (head.size() > MAX_HEADER_BLOCK) {
        return;  // writing added edc lines the reader would refuse
    }
    const std::string wire = head + received.body();
    Message again;
    unsigned long consumed = 0;
    if (again.parse(wire.data(), wire.size(), &consumed) != Message::PARSER_MESSAGE_READY ||
        consumed != wire.size() || again.toString() != wire) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::size_t lengthCount = data[0] & 7u;
    if (lengthCount > size - 1) {
        lengthCount = size - 1;
    }
    Chunks chunks{data + 1, lengthCount};
    const char* stream = reinterpret_cast<const char*>(data + 1 + lengthCount);
    std::size_t left = size - 1 - lengthCount;

    Message receiver;
    while (left > 0) {
        const std::size_t length = chunks.take(left);
        const unsigned long used =
            zeph::parseEach(receiver, stream, length, [&](Message::ParserState result) {
                if (result == Message::PARSER_IN_PROGRESS) {
                    return false;
                }
                if (result != Message::PARSER_SYNTAX_ERROR) {
                    expectReadBack(receiver);
                    receiver.uncompress();
                }
                return true;
            });
        if (used != length) {
            std::abort();
        }
        stream += length;
        left -= length;
    }
    return 0;
}
