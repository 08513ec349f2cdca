#include "Utf8Text.h"

namespace hub {

namespace {

bool continuation(unsigned char byte) {
    return (byte & 0xc0) == 0x80;
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // the bounds of the second byte
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (!continuation(byte(i))) {
            return 0;
        }
    }
    return length;
}

std::string asUtf8(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        std::size_t length = utf8SequenceLength(bytes);
        if (length > 0) {
            text.append(bytes.data(), length);
        } else {
            const auto latin1 = static_cast<unsigned char>(bytes[0]);
            text += static_cast<char>(0xc0 | (latin1 >> 6));
            text += static_cast<char>(0x80 | (latin1 & 0x3f));
            length = 1;
        }
        bytes.remove_prefix(length);
    }
    return text;
}

}  // namespace hub
