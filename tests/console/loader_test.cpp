// The session numbers, and the console's link to the driver.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "CommandOutput.h"
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
    const CommandOutput readelf = runCommand("readelf -d " SATVARO_BINARY_DIR "/bin/zozivodivo");
    ASSERT_EQ(readelf.status, 0);
    std::istringstream lines(readelf.text);
    std::string needed;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("(NEEDED)") != std::string::npos) {
            needed += line + "\n";
        }
    }
    ASSERT_NE(needed, "");
    EXPECT_EQ(needed.find("satvaro"), std::string::npos) << needed;
    EXPECT_EQ(needed.find("libz"), std::string::npos) << needed;
}

}  // namespace
