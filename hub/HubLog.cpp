#include "HubLog.h"

#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace hub {

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
    // A longer line is cut, never split across writes; a client's text with
    // control characters in it cannot pass for lines of the hub's own.
    std::size_t length = static_cast<std::size_t>(wanted) < room ? wanted : room;
    std::replace_if(
        text, text + length, [](unsigned char c) { return c < ' '; }, '?');
    text[length++] = '\n';
    const ssize_t ignored = ::write(STDERR_FILENO, line, (text - line) + length);
    (void)ignored;
}

}  // namespace hub
