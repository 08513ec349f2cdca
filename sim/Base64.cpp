#include "sim/Base64.h"

namespace satsim {

std::string base64Encode(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8
                         | static_cast<unsigned char>(bytes[i + 2]);
        text += alphabet[group >> 18];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += alphabet[group & 63];
    }
    size_t left = bytes.size() - i;
    if (left > 0) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (left == 2)
            group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        text += alphabet[group >> 18];
        text += alphabet[(group >> 12) & 63];
        text += left == 2 ? alphabet[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

}  // namespace satsim
