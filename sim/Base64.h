// Base64 (RFC 4648, with padding) for the files the device hands back.
#ifndef SATVARO_SIM_BASE64_H
#define SATVARO_SIM_BASE64_H

#include <string>

namespace satsim {

std::string base64Encode(const std::string& bytes);

}  // namespace satsim

#endif
