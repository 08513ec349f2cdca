#include "codec/zeph.h"

#include <array>
#include <cstdio>
#include <cstring>

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

namespace {

// CRC-16 polynomial x^16 + x^12 + x^5 + 1, most significant bit first.
constexpr unsigned POLYNOMIAL = 0x1021;

// Entry b: byte b shifted into an all-zero register, one bit at a time.
constexpr std::array<std::uint16_t, 256> makeCrc16Table() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned crc = b << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000u) != 0 ? (crc << 1) ^ POLYNOMIAL : crc << 1;
        }
        table[b] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

// Byte-at-a-time table of the CRC, derived from the polynomial when the
// library is compiled.
constexpr std::array<std::uint16_t, 256> crc16tab = makeCrc16Table();

// Slicing-by-16: slice k gives the CRC of one byte followed by k zero
// bytes, so sixteen input bytes fold into the register with independent
// lookups instead of a chain of dependent ones. Slice 0 is crc16tab itself.
constexpr int SLICES = 16;
using CrcSlices = std::array<std::array<std::uint16_t, 256>, SLICES>;

constexpr CrcSlices makeSlices() {
    CrcSlices slices{};
    for (int b = 0; b < 256; ++b) {
        slices[0][b] = crc16tab[b];
    }
    for (int k = 1; k < SLICES; ++k) {
        for (int b = 0; b < 256; ++b) {
            const std::uint16_t prev = slices[k - 1][b];
            slices[k][b] = static_cast<std::uint16_t>((prev << 8) ^ crc16tab[prev >> 8]);
        }
    }
    return slices;
}

constexpr CrcSlices kSlices = makeSlices();

// Eight bytes with p[0] in the low byte, whatever the host's byte order.
std::uint64_t loadLittleEndian(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

}  // namespace

std::uint16_t crc16_ccitt(const void* data, int length) {
    std::uint16_t crc = 0;
    if (length <= 0) {
        return crc;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t left = static_cast<std::size_t>(length);
    for (; left >= SLICES; left -= SLICES, p += SLICES) {
        // The register enters through the first two bytes of the block.
        const std::uint64_t low = loadLittleEndian(p) ^ (crc >> 8) ^ ((crc & 0xFFu) << 8);
        const std::uint64_t high = loadLittleEndian(p + 8);
        unsigned folded = 0;
        for (int k = 0; k < 8; ++k) {
            folded ^= kSlices[SLICES - 1 - k][(low >> (8 * k)) & 0xFF] ^
                      kSlices[SLICES / 2 - 1 - k][(high >> (8 * k)) & 0xFF];
        }
        crc = static_cast<std::uint16_t>(folded);
    }
    for (; left > 0; --left, ++p) {
        crc = static_cast<std::uint16_t>((crc << 8) ^ crc16tab[((crc >> 8) ^ *p) & 0xFF]);
    }
    return crc;
}

std::string to_string(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return text;
}

}  // namespace zeph
