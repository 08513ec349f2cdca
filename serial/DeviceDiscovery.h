// Finding the fiscal device's CDC-ACM node, in-process: no shell and no
// program is started, and nothing is taken from the host's PATH.
#ifndef SATVARO_SERIAL_DEVICEDISCOVERY_H
#define SATVARO_SERIAL_DEVICEDISCOVERY_H

#include <optional>
#include <string>

namespace serial {

// "/dev/ttyACMn" named by the link target of the last entry of
// /dev/serial/by-id whose name contains "-mfc+_with_musb", "last" in the
// order `ls` lists them: by the collation of the locale the environment
// names (LC_ALL, LC_COLLATE, LANG). Nothing when the directory is missing,
// no entry matches, or the target names no "ttyACM" node.
std::optional<std::string> findByIdNode();

// "/dev/<node>" of the tty interface of the first sysfs USB device whose
// idVendor is SERIAL_VENDOR_ID; nothing when there is none.
std::optional<std::string> findVendorIdNode();

// The node named by the environment variable SATVARO_DEVICE (a device node
// or a link to one, such as a /dev/serial/by-id entry), used instead of
// discovery. `refusal` says why it cannot be the device when it is missing
// or no character device; whether it is a terminal shows when it is opened.
struct NamedDevice {
    std::string path;
    std::string refusal;
};

// Nothing when SATVARO_DEVICE is unset or empty: discovery decides.
std::optional<NamedDevice> findNamedDevice();

}  // namespace serial

#endif
