// The hub's log: one line per event on standard error ("satvaro-hub: ..."),
// where the service manager's journal collects it. Lines of concurrent
// requests never mix: each goes out in one write, its control characters
// (a client's newline) as "?".
#ifndef SATVARO_HUB_HUBLOG_H
#define SATVARO_HUB_HUBLOG_H

namespace hub {

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hub

#endif
