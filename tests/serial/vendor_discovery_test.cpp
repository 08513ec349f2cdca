// Finding the device node by its USB vendor id, run by the harness with a
// fake sysfs: a root hub (1d6b) and the device 1-1 (0525) whose interface
// 1-1:1.0 has the tty ttyACM0.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "NamespaceGuard.h"
#include "ScopedWorkDir.h"
#include "serial/SerialCommChannel.h"

namespace {

namespace fs = std::filesystem;

const fs::path USB_DEVICES = "/sys/bus/usb/devices";

class VendorDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(insideHarnessNamespace()) << "run through the harness (HARNESS test)";
        ASSERT_TRUE(fs::exists(USB_DEVICES / "1-1" / "idVendor")) << "the harness needs --sysfs";
    }

    ScopedWorkDir workDir;  // the channel logs below it
    serial::SerialCommChannel channel;
};

TEST_F(VendorDiscoveryTest, FindsTheNodeOfTheDeviceWithOurVendorId) {
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::optional<std::string>("/dev/ttyACM0"));
}

TEST_F(VendorDiscoveryTest, TheFirstDeviceWithOurVendorIdWins) {
    fs::create_directories(USB_DEVICES / "1-2" / "1-2:1.0" / "tty" / "ttyACM9");
    std::ofstream(USB_DEVICES / "1-2" / "idVendor") << "0525\n";
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::optional<std::string>("/dev/ttyACM0"));
}

TEST_F(VendorDiscoveryTest, OtherVendorsOnlyMeanNoDevice) {
    std::ofstream(USB_DEVICES / "1-1" / "idVendor") << "05250\n";
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::nullopt);
}

TEST_F(VendorDiscoveryTest, ADeviceWithoutATtyInterfaceMeansNoDevice) {
    fs::remove_all(USB_DEVICES / "1-1" / "1-1:1.0" / "tty");
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::nullopt);
}

}  // namespace
