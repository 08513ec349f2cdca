// Finding the device node through /dev/serial/by-id, run by the harness:
// /dev is a scratch directory holding the simulator's pty as ttyACM0.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "NamespaceGuard.h"
#include "ScopedWorkDir.h"
#include "serial/SerialCommChannel.h"

namespace {

namespace fs = std::filesystem;

const fs::path BY_ID = "/dev/serial/by-id";
const std::string DEVICE_LINK = "usb-Varo_SAT_0001-if00-mfc+_with_musb";

// Descriptors of this process open on `path`.
int openDescriptors(const fs::path& path) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += fs::read_symlink(entry.path(), error) == path ? 1 : 0;
    }
    return count;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(insideHarnessNamespace()) << "run through the harness (HARNESS test)";
        ASSERT_TRUE(fs::is_symlink(BY_ID / DEVICE_LINK));
    }

    // Points the device's by-id link at `target` (relative, as udev makes it).
    static void linkDeviceTo(const std::string& target) { link(DEVICE_LINK, target); }

    static void link(const std::string& name, const std::string& target) {
        fs::remove(BY_ID / name);
        fs::create_symlink(target, BY_ID / name);
    }

    ScopedWorkDir workDir;  // the channel logs below it
    serial::SerialCommChannel channel;
};

TEST_F(DiscoveryTest, FindsTheDeviceAndExchangesWithIt) {
    EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>("/dev/ttyACM0"));
    ASSERT_EQ(channel.connect_client(), 0);
    zeph::Message request("ConsultarSAT", "3");
    request.setBody("000007");
    request.compress();
    EXPECT_GT(channel.send_data(request), 0);
    zeph::Message reply;
    EXPECT_EQ(channel.receive_data("ConsultarSAT", reply, 6000), serial::STATUS_OK);
    EXPECT_EQ(reply.body(), "000007|08000|SAT em Operação||");
}

TEST_F(DiscoveryTest, NoByIdDirectoryMeansNoDevice) {
    fs::remove_all(BY_ID);
    EXPECT_EQ(channel.findUsbDevice(), std::nullopt);
    EXPECT_EQ(channel.connect_client(), -1);
}

TEST_F(DiscoveryTest, TheLastMatchingEntryWins) {
    link("usb-Varo_SAT_0002-if00-mfc+_with_musb", "../../ttyACM3");
    link("usb-Zeta_Modem_0001-if00-port0", "../../ttyACM7");  // not a SAT device
    EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>("/dev/ttyACM3"));
}

TEST_F(DiscoveryTest, KeepsEveryDigitOfTheNodeNumber) {
    linkDeviceTo("../../ttyACM12");
    EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>("/dev/ttyACM12"));
}

TEST_F(DiscoveryTest, AMatchingEntryWithoutATtyACMNodeMeansNoDevice) {
    linkDeviceTo("../../ttyUSB0");
    EXPECT_EQ(channel.findUsbDevice(), std::nullopt);
    EXPECT_EQ(channel.connect_client(), -1);
}

TEST_F(DiscoveryTest, ANodeThatIsNoTerminalStaysOpenUntilDisconnect) {
    std::ofstream("/dev/ttyACM5") << "not a terminal";
    linkDeviceTo("../../ttyACM5");
    EXPECT_EQ(channel.connect_client(), ENOTTY);
    EXPECT_EQ(openDescriptors("/dev/ttyACM5"), 1);
    channel.disconnect_client();
    EXPECT_EQ(openDescriptors("/dev/ttyACM5"), 0);
}

}  // namespace
