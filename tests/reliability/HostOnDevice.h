// A host of the built library on the simulated device (activated, activation
// code 12345678), with what the reliability cases check after each fault:
// that the next call is answered, and what the driver logged.
#ifndef SATVARO_TESTS_RELIABILITY_HOSTONDEVICE_H
#define SATVARO_TESTS_RELIABILITY_HOSTONDEVICE_H

#include <cstdio>
#include <string>

#include "DriverLog.h"
#include "DriverOnDevice.h"
#include "TestFiles.h"

class HostOnDevice : public DriverOnDevice {
protected:
    static constexpr char CODE[] = "12345678";

    // The device answers a plain query at once, under a session of its own.
    void expectQueryAnswered() {
        const int session = ++m_session;
        const std::string reply = sat.ConsultarSAT(session);
        EXPECT_EQ(sat.CodigoErro(), 0);
        EXPECT_EQ(reply, sessionText(session) + "|08000|SAT em Operação||");
    }

    static std::string sessionText(int session) {
        char text[16];
        std::snprintf(text, sizeof text, "%06d", session);
        return text;
    }

    LogCursor log;  // what the driver logs in the test

private:
    int m_session = 900000;
};

#endif
