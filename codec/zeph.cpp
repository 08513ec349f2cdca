#include "codec/zeph.h"

#include <cstdio>

namespace zeph {

const std::string LIBRARY_VERSION = "1.1.4";

const std::string HDR_MSG_SPECIFIER = "smx";
const std::string HDR_TERMINATION = "\r\n";
const std::string HDR_FIELD_SEPARATOR = ":";
const std::string HDR_START_DATA = "\r\n\r\n";
const std::string HDR_VERSION = "version";
const std::string HDR_VERSION_NUMBER = "1.0";
const std::string HDR_CODE = "code";
const std::string HDR_SOURCE = "source";
const std::string HDR_CONTENT_TYPE = "content-type";
const std::string HDR_CONTENT_OCTET_STREAM = "octet-stream";
const std::string HDR_CONTENT_COMPRESSED = "z-compressed";
const std::string HDR_CONTENT_SIZE = "content-size";
const std::string HDR_CONTENT_UNCOMPRESSED_SIZE = "content-uncompressed-size";
const std::string HDR_EDC_TYPE = "edc-type";
const std::string HDR_EDC_TYPE_CRC16 = "crc16-ccitt";
const std::string HDR_EDC_WORD = "edc-word";

std::string to_string(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

}  // namespace zeph
