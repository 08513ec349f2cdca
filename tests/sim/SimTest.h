// What the simulator tests share: a client on /dev/ttyACM0 and a short
// way to call a command and get its reply fields.
#ifndef SATVARO_TESTS_SIM_SIMTEST_H
#define SATVARO_TESTS_SIM_SIMTEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DeviceClient.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.isOpen()) << "run under satvaro-harness"; }

    std::vector<std::string> call(const std::string& code, const std::string& body)
    {
        return replyFields(client.call(code, body));
    }

    // Result code (EEEEE) of a command.
    std::string result(const std::string& code, const std::string& body) { return call(code, body).at(1); }

    DeviceClient client;
};

// True when `key` is "CFe" and 44 digits whose last is their mod-11 check.
::testing::AssertionResult isAccessKey(const std::string& key);

#endif
