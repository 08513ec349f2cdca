#include "sim/Files.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "common/RetryOnSignal.h"

namespace satsim {

bool readFile(const std::string& path, std::string& content) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    content.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = retryOnSignal([&] { return ::read(fd, buffer, sizeof buffer); });
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);
    return true;
}

bool writeFile(const std::string& path, const std::string& content) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = retryOnSignal(
            [&] { return ::write(fd, content.data() + done, content.size() - done); });
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0;
}

bool writeFileAtomically(const std::string& path, const std::string& content) {
    std::string temporary = path + ".tmp" + std::to_string(::getpid());
    if (!writeFile(temporary, content)) {
        ::unlink(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace satsim
