// The session numbers, and the console's link to the driver.
#include <gtest/gtest.h>

#include <string>

#include "TestFiles.h"
#include "console/AcessoDriver.h"

namespace {

TEST(ConsoleLoader, SessionNumbersRunFromOneTo999999ThenAgainFromOne) {
    AcessoDriver* acesso = AcessoDriver::obtemReferencia();
    ASSERT_EQ(acesso, AcessoDriver::obtemReferencia());
    ASSERT_NE(acesso->driverSat(), nullptr);
    for (int expected = 1; expected <= 999999; ++expected) {
        ASSERT_EQ(acesso->obtemProxSessao(), expected);
    }
    EXPECT_EQ(acesso->obtemProxSessao(), 1);
}

// The console must start where the driver is missing: the loader's library is
// its only link to it.
TEST(ConsoleLoader, ConsoleDoesNotLinkTheDriverLibrary) {
    const CommandOutput needed =
        runCommand("readelf -d " SATVARO_BINARY_DIR "/bin/zozivodivo | grep NEEDED");
    ASSERT_EQ(needed.status, 0);
    EXPECT_EQ(needed.text.find("satvaro"), std::string::npos) << needed.text;
    EXPECT_EQ(needed.text.find("libz"), std::string::npos) << needed.text;
}

}  // namespace
