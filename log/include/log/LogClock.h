// For tests only (the library itself never calls it): the log writer's
// clock, so that a test can cross midnight.
#ifndef SATVARO_LOG_LOGCLOCK_H
#define SATVARO_LOG_LOGCLOCK_H

#include <ctime>

// Replaces std::time as the source of the log's dates and stamps.
void setLogClock(std::time_t (*clock)(std::time_t*));

#endif
