#include "DeviceDiscovery.h"

#include <dirent.h>
#include <glob.h>
#include <locale.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#include "serialdefs.h"

namespace serial {

namespace {

const char BY_ID_DIR[] = "/dev/serial/by-id";
const char DEVICE_MARK[] = "-mfc+_with_musb";
const char NODE_PREFIX[] = "ttyACM";
const char DEVICE_VARIABLE[] = "SATVARO_DEVICE";

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using Directory = std::unique_ptr<DIR, DirCloser>;

struct LocaleFree {
    void operator()(locale_t locale) const { freelocale(locale); }
};
using Locale = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleFree>;

// Orders names as `ls` would from this environment. A locale the environment
// names but the host lacks leaves `ls` in "C", and so byte order here too.
// Names the collation ranks equal keep a fixed order by their bytes.
class ListingOrder {
public:
    ListingOrder() : m_collation(newlocale(LC_COLLATE_MASK, "", nullptr)) {}

    bool before(const std::string& a, const std::string& b) const {
        const int collated = m_collation ? strcoll_l(a.c_str(), b.c_str(), m_collation.get()) : 0;
        return collated != 0 ? collated < 0 : a < b;
    }

private:
    Locale m_collation;
};

// The entry `ls` would list last among the device's by-id links (hidden
// names are not listed).
std::optional<std::string> lastDeviceEntry(DIR* dir) {
    const ListingOrder order;
    std::optional<std::string> last;
    while (const struct dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name[0] != '.' && name.find(DEVICE_MARK) != std::string::npos &&
            (!last || order.before(*last, name))) {
            last = name;
        }
    }
    return last;
}

std::optional<std::string> linkTarget(const std::string& path) {
    char target[256];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0 || static_cast<size_t>(length) == sizeof target) {
        return std::nullopt;
    }
    return std::string(target, static_cast<size_t>(length));
}

struct GlobFree {
    void operator()(glob_t* g) const {
        globfree(g);
        delete g;
    }
};
using GlobResult = std::unique_ptr<glob_t, GlobFree>;

// The paths matching `pattern` in glob order; empty on no match or error.
GlobResult expand(const std::string& pattern) {
    GlobResult result(new glob_t());
    if (glob(pattern.c_str(), 0, nullptr, result.get()) != 0) {
        result->gl_pathc = 0;
    }
    return result;
}

// First line of a small attribute file, without its newline; nothing when
// the file cannot be opened.
std::optional<std::string> firstLine(const char* path) {
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return std::nullopt;
    }
    char line[256] = {0};
    if (std::fgets(line, sizeof line, file) == nullptr) {
        line[0] = '\0';
    }
    std::fclose(file);
    std::string text(line);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// The sysfs directory of an ".../idVendor" attribute, with its trailing slash.
std::optional<std::string> deviceDirectory(const std::string& attributePath) {
    regex_t pattern;
    if (regcomp(&pattern, "^(.*)idVendor[ \t\n]*$", REG_EXTENDED) != 0) {
        return std::nullopt;  // a library never ends its host process
    }
    regmatch_t match[2];
    std::optional<std::string> directory;
    if (regexec(&pattern, attributePath.c_str(), 2, match, 0) == 0 && match[1].rm_eo >= 0) {
        directory = attributePath.substr(0, static_cast<size_t>(match[1].rm_eo));
    }
    regfree(&pattern);
    return directory;
}

// The first entry of `directory` not starting with '.', e.g. "ttyACM0".
std::optional<std::string> firstVisibleEntry(const char* directory) {
    const Directory dir(opendir(directory));
    if (!dir) {
        return std::nullopt;
    }
    while (const struct dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] != '.') {
            return std::string(entry->d_name);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> findByIdNode() {
    const Directory dir(opendir(BY_ID_DIR));
    if (!dir) {
        return std::nullopt;
    }
    const std::optional<std::string> entry = lastDeviceEntry(dir.get());
    const std::optional<std::string> target =
        entry ? linkTarget(std::string(BY_ID_DIR) + "/" + *entry) : std::nullopt;
    if (!target) {
        return std::nullopt;
    }
    // "../../ttyACM12": every digit counts, the first alone would name
    // another device.
    const size_t node = target->find(NODE_PREFIX);
    if (node == std::string::npos) {
        return std::nullopt;
    }
    const size_t prefix = std::strlen(NODE_PREFIX);
    const size_t digits = std::strspn(target->c_str() + node + prefix, "0123456789");
    if (digits == 0) {
        return std::nullopt;
    }
    return "/dev/" + target->substr(node, prefix + digits);
}

std::optional<std::string> findVendorIdNode() {
    const GlobResult attributes = expand("/sys/bus/usb/devices/*/idVendor");
    const char* vendorFile = nullptr;
    for (size_t i = 0; i < attributes->gl_pathc && vendorFile == nullptr; ++i) {
        const std::optional<std::string> vendor = firstLine(attributes->gl_pathv[i]);
        if (!vendor) {
            return std::nullopt;
        }
        if (*vendor == SERIAL_VENDOR_ID) {
            vendorFile = attributes->gl_pathv[i];
        }
    }
    if (vendorFile == nullptr) {
        return std::nullopt;
    }
    const std::optional<std::string> directory = deviceDirectory(vendorFile);
    if (!directory) {
        return std::nullopt;
    }
    const GlobResult ttyDirs = expand(*directory + "*/tty/");
    if (ttyDirs->gl_pathc == 0) {
        return std::nullopt;
    }
    const std::optional<std::string> node = firstVisibleEntry(ttyDirs->gl_pathv[0]);
    if (!node) {
        return std::nullopt;
    }
    return "/dev/" + *node;
}

// The one place the library reads its environment: a container given the
// device alone (no /dev/serial/by-id), or a machine with several devices,
// names it. Read at every call, as discovery runs at every call.
std::optional<NamedDevice> findNamedDevice() {
    const char* const named = std::getenv(DEVICE_VARIABLE);
    if (named == nullptr || *named == '\0') {
        return std::nullopt;
    }
    NamedDevice device{named, ""};
    struct stat node {};
    if (::stat(named, &node) != 0) {
        device.refusal = std::string(DEVICE_VARIABLE) + "=" + named + ": " + std::strerror(errno);
    } else if (!S_ISCHR(node.st_mode)) {
        device.refusal =
            std::string(DEVICE_VARIABLE) + "=" + named + " nao e um dispositivo de caracteres";
    }
    return device;
}

}  // namespace serial
