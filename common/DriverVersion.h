// The driver's version text: returned by getVersion, sent in every request's
// "drs-version" header and written at the head of every log file.
#ifndef SATVARO_COMMON_DRIVERVERSION_H
#define SATVARO_COMMON_DRIVERVERSION_H

namespace satvaro {
inline constexpr char DRIVER_VERSION[] = "01.00.01.001";
}

#endif
