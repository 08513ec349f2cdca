// A host of the built library (loaded with dlopen) on the simulated device
// that the harness shows as /dev/ttyACM0, in a scratch working directory
// where the driver's log lands. Every call costs about 1.1 s of pacing.
#ifndef SATVARO_TESTS_RELIABILITY_DRIVERONDEVICE_H
#define SATVARO_TESTS_RELIABILITY_DRIVERONDEVICE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DriverLog.h"
#include "LoadedDriver.h"
#include "ScopedWorkDir.h"
#include "SimDevice.h"
#include "TestFiles.h"

class DriverOnDevice : public ::testing::Test {
protected:
    static constexpr char CODE[] = "12345678";  // the simulated device's activation code

    void SetUp() override { ASSERT_TRUE(device.available()) << "run through the harness"; }

    void faults(const std::string& lines) { ASSERT_TRUE(device.setFaults(lines)); }

    // "code body" of every request that reached the device, in order.
    std::vector<std::string> received() const {
        std::vector<std::string> requests;
        for (const SimRequest& request : device.requests()) {
            requests.push_back(request.code + " " + request.body);
        }
        return requests;
    }

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

    ScopedWorkDir workDir;
    LogCursor log;  // what the driver logs in the test
    SimDevice device;
    LoadedDriver sat{SATVARO_LIBRARY_PATH};

private:
    int m_session = 900000;
};

#endif
