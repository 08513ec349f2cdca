#include "Base64Text.h"

#include <openssl/evp.h>

namespace satsim {

std::string base64(const void* bytes, std::size_t length) {
    // Four letters for every three bytes begun, and the NUL OpenSSL adds.
    std::string text((length + 2) / 3 * 4 + 1, '\0');
    int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                        static_cast<const unsigned char*>(bytes), static_cast<int>(length));
    text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return text;
}

std::string base64(const std::string& bytes) {
    return base64(bytes.data(), bytes.size());
}

}  // namespace satsim
