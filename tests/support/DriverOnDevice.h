// A test of the built library, loaded with dlopen as a point-of-sale
// application loads it, on the simulated device that the harness shows as
// /dev/ttyACM0, in a scratch working directory where the driver's log lands.
// The test target defines SATVARO_LIBRARY_PATH and runs under the harness.
// Header-only; link with satvaro_test_support and ${CMAKE_DL_LIBS}.
#ifndef SATVARO_TESTS_SUPPORT_DRIVERONDEVICE_H
#define SATVARO_TESTS_SUPPORT_DRIVERONDEVICE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoadedDriver.h"
#include "ScopedWorkDir.h"
#include "SimDevice.h"

class DriverOnDevice : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.available()) << "run through the harness"; }

    void faults(const std::string& lines) { ASSERT_TRUE(device.setFaults(lines)); }

    // What reached the device since the test began: "code body" per request.
    std::vector<std::string> received() const {
        std::vector<std::string> requests;
        for (const SimRequest& request : device.requests()) {
            requests.push_back(request.code + " " + request.body);
        }
        return requests;
    }

    ScopedWorkDir workDir;  // the driver logs below it
    SimDevice device;
    LoadedDriver sat{SATVARO_LIBRARY_PATH};
};

#endif
