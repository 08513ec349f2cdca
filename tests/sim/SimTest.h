// What the simulator tests share: a client on /dev/ttyACM0, a short way to
// call a command and get its reply fields, and the activation most tests
// begin with.
#ifndef SATVARO_TESTS_SIM_SIMTEST_H
#define SATVARO_TESTS_SIM_SIMTEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceClient.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.isOpen()) << "run under satvaro-harness"; }

    std::vector<std::string> call(const std::string& code, const std::string& body) {
        return replyFields(client.call(code, body));
    }

    // Result code (EEEEE) of a command.
    std::string result(const std::string& code, const std::string& body) {
        return call(code, body).at(1);
    }

    // Activates the device (session 000001, activation code 12345678).
    void activate() {
        ASSERT_EQ("04000", result("AtivarSAT", "000001|1|12345678|11222333000181|35"));
    }

    DeviceClient client;
};

// True when `key` is "CFe" and 44 digits whose last is their mod-11 check.
::testing::AssertionResult isAccessKey(const std::string& key);

#endif
