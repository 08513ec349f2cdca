// Base64 of RFC 4648 (standard alphabet, "=" padding, no line breaks), as the
// device writes the documents and logs it hands out. Made by OpenSSL, not by
// the driver's codec: a fault of either then shows end to end.
#ifndef SATVARO_SIM_BASE64TEXT_H
#define SATVARO_SIM_BASE64TEXT_H

#include <cstddef>
#include <string>

namespace satsim {

std::string base64(const void* bytes, std::size_t length);
std::string base64(const std::string& bytes);

}  // namespace satsim

#endif
