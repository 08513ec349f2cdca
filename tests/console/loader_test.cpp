// The session numbers, and the console's link to the driver.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "console/AcessoDriver.h"

namespace {

TEST(ConsoleLoader, SessionNumbersRunFromOneTo999999ThenAgainFromOne) {
    AcessoDriver* acesso = AcessoDriver::obtemReferencia();
    ASSERT_EQ(acesso, AcessoDriver::obtemReferencia());
    ASSERT_NE(acesso->driverSat(), nullptr);
    EXPECT_EQ(acesso->obtemProxSessao(), 1);
    EXPECT_EQ(acesso->obtemProxSessao(), 2);
    for (int expected = 3; expected < 999999; ++expected) {
        ASSERT_EQ(acesso->obtemProxSessao(), expected);
    }
    EXPECT_EQ(acesso->obtemProxSessao(), 999999);
    EXPECT_EQ(acesso->obtemProxSessao(), 1);
}

// The console must start where the driver is missing: the loader's library is
// its only link to it.
TEST(ConsoleLoader, ConsoleDoesNotLinkTheDriverLibrary) {
    const std::string command = "readelf -d " SATVARO_BINARY_DIR "/bin/zozivodivo";
    FILE* readelf = popen(command.c_str(), "r");
    ASSERT_NE(readelf, nullptr);
    std::string needed;
    char line[512];
    while (std::fgets(line, sizeof line, readelf) != nullptr) {
        if (std::string(line).find("(NEEDED)") != std::string::npos) {
            needed += line;
        }
    }
    ASSERT_EQ(pclose(readelf), 0);
    ASSERT_NE(needed, "");
    EXPECT_EQ(needed.find("satvaro"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libz"), std::string::npos) << needed;
}

}  // namespace
