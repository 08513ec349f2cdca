/* satvaro: driver library for SAT / MF-e fiscal devices on Linux. */
#ifndef SATVARO_H
#define SATVARO_H

#if defined(__GNUC__)
#define SATVARO_API __attribute__((visibility("default")))
#else
#define SATVARO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The driver's version text "01.00.01.001"; owned by the library. */
SATVARO_API char* getVersion(void);

#ifdef __cplusplus
}
#endif

#endif
