// Base64::decode over arbitrary text, as it meets the document fields of
// device replies: it reads the longest prefix of alphabet letters, four
// letters giving three bytes, a trailing pair or triple one or two, a single
// stray letter nothing. What it decodes must encode and decode back to
// itself, and any bytes must survive encode then decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands/Base64.h"

namespace {

std::size_t alphabetPrefix(const std::string& text) {
    std::size_t length = 0;
    while (length < text.size() && Base64::is_base64(static_cast<unsigned char>(text[length]))) {
        ++length;
    }
    return length;
}

std::size_t decodedLength(std::size_t letters) {
    const std::size_t rest = letters % 4;
    return letters / 4 * 3 + (rest > 1 ? rest - 1 : 0);
}

std::string roundTrip(const std::string& bytes) {
    const std::string text = Base64::encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                                            static_cast<unsigned int>(bytes.size()));
    if (text.size() != (bytes.size() + 2) / 3 * 4) {
        std::abort();
    }
    return Base64::decode(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string decoded = Base64::decode(text);
    if (decoded.size() != decodedLength(alphabetPrefix(text))) {
        std::abort();
    }
    if (roundTrip(decoded) != decoded || roundTrip(text) != text) {
        std::abort();
    }
    return 0;
}
