// Shared definitions of the device message codec: header names, the codec
// version and the two number helpers every message uses.
#ifndef SATVARO_CODEC_ZEPH_H
#define SATVARO_CODEC_ZEPH_H

#include <cstdint>
#include <string>

namespace zeph {

extern const std::string LIBRARY_VERSION;  // "1.1.4"

extern const std::string HDR_MSG_SPECIFIER;              // "smx"
extern const std::string HDR_TERMINATION;                // CR LF
extern const std::string HDR_FIELD_SEPARATOR;            // ":"
extern const std::string HDR_START_DATA;                 // CR LF CR LF
extern const std::string HDR_VERSION;                    // "version"
extern const std::string HDR_VERSION_NUMBER;             // "1.0"
extern const std::string HDR_CODE;                       // "code"
extern const std::string HDR_SOURCE;                     // "source"
extern const std::string HDR_CONTENT_TYPE;               // "content-type"
extern const std::string HDR_CONTENT_OCTET_STREAM;       // "octet-stream"
extern const std::string HDR_CONTENT_COMPRESSED;         // "z-compressed"
extern const std::string HDR_CONTENT_SIZE;               // "content-size"
extern const std::string HDR_CONTENT_UNCOMPRESSED_SIZE;  // "content-uncompressed-size"
extern const std::string HDR_EDC_TYPE;                   // "edc-type"
extern const std::string HDR_EDC_TYPE_CRC16;             // "crc16-ccitt"
extern const std::string HDR_EDC_WORD;                   // "edc-word"

// CRC-16/XMODEM (poly 0x1021, init 0, no reflection, no final xor) of
// `length` bytes at `data`; 0 when `length` <= 0 (data is then not read).
std::uint16_t crc16_ccitt(const void* data, int length);

// Decimal text of a signed 32-bit value: "-" for negatives, no padding.
std::string to_string(int value);

}  // namespace zeph

#endif
