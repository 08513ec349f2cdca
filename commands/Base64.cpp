#include "commands/Base64.h"

#include <array>

namespace {

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char NOT_BASE64 = 0xFF;

// Value of every byte: its position in the alphabet, or NOT_BASE64. A table
// instead of a search of the alphabet: reply fields run to 1.5 MiB.
constexpr std::array<unsigned char, 256> makeValues() {
    std::array<unsigned char, 256> values{};
    for (auto& value : values) {
        value = NOT_BASE64;
    }
    for (unsigned char position = 0; position < 64; ++position) {
        values[static_cast<unsigned char>(ALPHABET[position])] = position;
    }
    return values;
}

constexpr std::array<unsigned char, 256> VALUES = makeValues();

}  // namespace

const std::string Base64::base64_chars = ALPHABET;

bool Base64::is_base64(unsigned char c) {
    return VALUES[c] != NOT_BASE64;
}

std::string Base64::encode(const unsigned char* bytes, unsigned int length) {
    std::string text;
    text.reserve((length + 2u) / 3u * 4u);
    for (unsigned int i = 0; i < length; i += 3) {
        const unsigned int remaining = length - i;
        const unsigned int b0 = bytes[i];
        const unsigned int b1 = remaining > 1 ? bytes[i + 1] : 0u;
        const unsigned int b2 = remaining > 2 ? bytes[i + 2] : 0u;
        text += ALPHABET[b0 >> 2];
        text += ALPHABET[((b0 & 3u) << 4) | (b1 >> 4)];
        text += remaining > 1 ? ALPHABET[((b1 & 15u) << 2) | (b2 >> 6)] : '=';
        text += remaining > 2 ? ALPHABET[b2 & 63u] : '=';
    }
    return text;
}

std::string Base64::decode(const std::string& text) {
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3 + 2);
    unsigned int group = 0;  // 6-bit values collected, most significant first
    unsigned int collected = 0;
    for (const char c : text) {
        const unsigned char value = VALUES[static_cast<unsigned char>(c)];
        if (value == NOT_BASE64) {
            break;  // "=" is outside the alphabet too
        }
        group = (group << 6) | value;
        if (++collected == 4) {
            bytes += static_cast<char>(group >> 16);
            bytes += static_cast<char>(group >> 8);
            bytes += static_cast<char>(group);
            group = 0;
            collected = 0;
        }
    }
    // Two characters carry one byte, three carry two; a single one carries none.
    if (collected >= 2) {
        group <<= 6 * (4 - collected);
        bytes += static_cast<char>(group >> 16);
        if (collected == 3) {
            bytes += static_cast<char>(group >> 8);
        }
    }
    return bytes;
}
