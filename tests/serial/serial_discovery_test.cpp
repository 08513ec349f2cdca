// Finding the device node, run by the harness: /dev is a scratch directory
// holding the simulator's pty as ttyACM0 and its by-id link.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "DriverLog.h"
#include "NamespaceGuard.h"
#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "serial/SerialCommChannel.h"

namespace {

namespace fs = std::filesystem;

const fs::path BY_ID = "/dev/serial/by-id";
const std::string DEVICE_LINK = "usb-Varo_SAT_0001-if00-mfc+_with_musb";
const fs::path USB_DEVICES = "/sys/bus/usb/devices";

void link(const std::string& name, const std::string& target) {
    fs::remove(BY_ID / name);
    fs::create_symlink(target, BY_ID / name);
}

// Descriptors of this process open on `path`.
int openDescriptors(const fs::path& path) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += fs::read_symlink(entry.path(), error) == path ? 1 : 0;
    }
    return count;
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(insideHarnessNamespace()) << "run through the harness (HARNESS test)";
        ASSERT_TRUE(fs::is_symlink(BY_ID / DEVICE_LINK));
    }

    ScopedWorkDir workDir;  // the channel logs below it
    serial::SerialCommChannel channel;
};

// The last matching entry wins, with every digit of its node's number; an
// entry of another maker, or on another kind of node, is no device.
TEST_F(Discovery, ByIdListing) {
    EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>("/dev/ttyACM0"));
    link("usb-Varo_SAT_0002-if00-mfc+_with_musb", "../../ttyACM12");
    link("usb-Zeta_Modem_0001-if00-port0", "../../ttyACM7");
    EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>("/dev/ttyACM12"));
    link("usb-Varo_SAT_0002-if00-mfc+_with_musb", "../../ttyUSB0");
    EXPECT_EQ(channel.findUsbDevice(), std::nullopt);
    fs::remove_all(BY_ID);
    EXPECT_EQ(channel.findUsbDevice(), std::nullopt);
    EXPECT_EQ(channel.connect_client(), -1);
}

// "Last" as `ls` lists the entries: by the collation of the environment's
// locale. In C capitals come first; in Portuguese the letter decides. The
// locale is built for the test and mounted where the C library looks for it
// (with LOCPATH instead, newlocale leaks).
TEST_F(Discovery, ByIdListingInTheOrderOfTheLocale) {
    const ScratchDir locales;
    ASSERT_EQ(
        runCommand("localedef -i pt_BR -f UTF-8 " + (locales.path() / "pt_BR.UTF-8").string() +
                   " && mount --bind " + locales.path().string() + " /usr/lib/locale")
            .status,
        0);
    link("usb-x_SAT_0003-if00-mfc+_with_musb", "../../ttyACM3");
    link("usb-Y_SAT_0004-if00-mfc+_with_musb", "../../ttyACM4");
    const struct {
        const char* locale;
        const char* lastListed;
        const char* node;
    } cases[] = {{"C", "usb-x_SAT_0003-if00-mfc+_with_musb", "/dev/ttyACM3"},
                 {"pt_BR.UTF-8", "usb-Y_SAT_0004-if00-mfc+_with_musb", "/dev/ttyACM4"}};
    for (const auto& c : cases) {
        setenv("LC_ALL", c.locale, 1);
        EXPECT_EQ(runCommand("ls " + BY_ID.string() + " | tail -1").text,
                  c.lastListed + std::string("\n"));
        EXPECT_EQ(channel.findUsbDevice(), std::optional<std::string>(c.node)) << c.locale;
    }
    unsetenv("LC_ALL");
    runCommand("umount /usr/lib/locale");
}

TEST_F(Discovery, ANodeThatIsNoTerminalStaysOpenUntilDisconnect) {
    std::ofstream("/dev/ttyACM5") << "not a terminal";
    link(DEVICE_LINK, "../../ttyACM5");
    EXPECT_EQ(channel.connect_client(), ENOTTY);
    EXPECT_EQ(openDescriptors("/dev/ttyACM5"), 1);
    channel.disconnect_client();
    EXPECT_EQ(openDescriptors("/dev/ttyACM5"), 0);
}

// SATVARO_DEVICE names the node where there is no by-id listing (a container
// given the device alone): a terminal is taken, by its node or through a
// link; anything else fails as a missing device does, with one log line and
// no descriptor left. Unset or empty, discovery decides.
TEST_F(Discovery, TheDeviceTheEnvironmentNames) {
    fs::create_symlink("ttyACM0", "/dev/sat");
    fs::create_directory("/dev/sats");
    std::ofstream("/dev/ttyACM6") << "not a terminal";
    fs::remove_all(BY_ID);
    const auto openDevices = [] {
        return openDescriptors("/dev/null") + openDescriptors(fs::canonical("/dev/ttyACM0"));
    };
    const int devicesBefore = openDevices();
    const struct {
        const char* value;  // nullptr: unset
        int connected;
        const char* logged;  // the reason in the log line; nullptr: no line
    } cases[] = {
        {"/dev/ttyACM0", 0, nullptr},
        {"/dev/sat", 0, nullptr},
        {"", -1, nullptr},
        {"/dev/ttyACM6", -1, "SATVARO_DEVICE=/dev/ttyACM6 nao e um dispositivo de caracteres"},
        {"/dev/sats", -1, "SATVARO_DEVICE=/dev/sats nao e um dispositivo de caracteres"},
        {"/dev/ttyACM7", -1, "SATVARO_DEVICE=/dev/ttyACM7: No such file or directory"},
        {"/dev/null", -1, "SATVARO_DEVICE=/dev/null nao e um terminal"},
        {nullptr, -1, nullptr},
    };
    for (const auto& c : cases) {
        const std::string value = c.value ? c.value : "(unset)";
        c.value ? setenv("SATVARO_DEVICE", c.value, 1) : unsetenv("SATVARO_DEVICE");
        const LogCursor log;
        {
            serial::SerialCommChannel named;
            EXPECT_EQ(named.connect_client(), c.connected) << value;
        }
        EXPECT_EQ(log.lines(),
                  c.logged
                      ? std::vector<std::string>{std::string(
                                                     "error|[SerialCommChannel::connect_client] ") +
                                                 c.logged + "; nada foi enviado"}
                      : std::vector<std::string>{})
            << value;
        EXPECT_EQ(openDevices(), devicesBefore) << value;
    }
    unsetenv("SATVARO_DEVICE");
}

// Two names of one device share its lock.
TEST_F(Discovery, TwoNamesOfOneDeviceTakeTurns) {
    serial::DeviceLock byId;
    serial::DeviceLock byNode;
    ASSERT_TRUE(byId.acquire((BY_ID / DEVICE_LINK).string(), serial::Deadline(1000)));
    EXPECT_FALSE(byNode.acquire("/dev/ttyACM0", serial::Deadline(50)));
    byId.release();
    EXPECT_TRUE(byNode.acquire("/dev/ttyACM0", serial::Deadline(1000)));
}

// The first device with our vendor id wins; one without a tty interface,
// or of another vendor, is no device. The devices are laid out on a scratch
// file system over /sys/bus, in this test's namespace only.
TEST_F(Discovery, ByVendorId) {
    ASSERT_EQ(mount("scratch", "/sys/bus", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
    fs::create_directories(USB_DEVICES / "1-1" / "1-1:1.0" / "tty" / "ttyACM0");
    std::ofstream(USB_DEVICES / "1-1" / "idVendor") << "0525\n";
    fs::create_directories(USB_DEVICES / "1-2" / "1-2:1.0" / "tty" / "ttyACM9");
    std::ofstream(USB_DEVICES / "1-2" / "idVendor") << "0525\n";
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::optional<std::string>("/dev/ttyACM0"));
    std::ofstream(USB_DEVICES / "1-1" / "idVendor") << "05250\n";
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::optional<std::string>("/dev/ttyACM9"));
    fs::remove_all(USB_DEVICES / "1-2" / "1-2:1.0" / "tty");
    EXPECT_EQ(channel.findUsbDeviceByVendorId(), std::nullopt);
}

}  // namespace
