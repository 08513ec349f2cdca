// The hub's log: one line per event on standard error ("satvaro-hub: ..."),
// where the service manager's journal collects it. Lines of concurrent
// requests never mix: each goes out in one write. Bytes that come from
// clients or from the device reach a line only through logText.
#ifndef SATVARO_HUB_HUBLOG_H
#define SATVARO_HUB_HUBLOG_H

#include <string>
#include <string_view>

namespace hub {

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `bytes` fit for a log line, so that nothing a client sends can end a line,
// forge another or hide part of it: a byte that is not part of well-formed
// UTF-8 as "\xhh"; a control character (C0 with NUL, DEL, U+0080 to U+009F)
// or a line, paragraph or bidirectional separator (U+2028, U+2029, U+202A to
// U+202E, U+2066 to U+2069) as "\u{hhhh}"; "\" as "\\"; the rest as it is.
std::string logText(std::string_view bytes);

}  // namespace hub

#endif
