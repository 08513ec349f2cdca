#include "hub/HubLog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Utf8Text.h"

namespace hub {

namespace {

char32_t codePoint(std::string_view sequence) {
    static const unsigned char LEAD_BITS[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    char32_t point = static_cast<unsigned char>(sequence[0]) & LEAD_BITS[sequence.size()];
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        point = (point << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3f);
    }
    return point;
}

bool hidesOrBreaksLine(char32_t point) {
    return point < 0x20 || (point >= 0x7f && point <= 0x9f) || point == 0x2028 || point == 0x2029 ||
           (point >= 0x202a && point <= 0x202e) || (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string logText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    char escaped[16];
    while (!bytes.empty()) {
        const std::size_t length = utf8SequenceLength(bytes);
        const std::string_view sequence = bytes.substr(0, length > 0 ? length : 1);
        if (length == 0) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(bytes[0]));
            text += escaped;
        } else if (hidesOrBreaksLine(codePoint(sequence))) {
            std::snprintf(escaped, sizeof escaped, "\\u{%04x}",
                          static_cast<unsigned>(codePoint(sequence)));
            text += escaped;
        } else if (sequence == "\\") {
            text += "\\\\";
        } else {
            text += sequence;
        }
        bytes.remove_prefix(sequence.size());
    }
    return text;
}

void logLine(const char* format, ...) {
    static const char PREFIX[] = "satvaro-hub: ";
    char line[1024];
    std::memcpy(line, PREFIX, sizeof PREFIX - 1);
    char* const text = line + sizeof PREFIX - 1;
    const std::size_t room = sizeof line - (sizeof PREFIX - 1) - 1;  // the newline's place

    va_list arguments;
    va_start(arguments, format);
    const int wanted = std::vsnprintf(text, room + 1, format, arguments);
    va_end(arguments);
    if (wanted < 0) {
        return;
    }
    // A longer line is cut, never split across writes, nor inside a character.
    std::size_t length = static_cast<std::size_t>(wanted) < room ? wanted : room;
    if (length == room) {
        std::size_t lead = length - 1;
        while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xc0) == 0x80) {
            --lead;
        }
        if (utf8SequenceLength(std::string_view(text + lead, length - lead)) == 0) {
            length = lead;
        }
    }
    text[length++] = '\n';
    const ssize_t ignored = ::write(STDERR_FILENO, line, (text - line) + length);
    (void)ignored;
}

}  // namespace hub
