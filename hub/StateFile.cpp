#include "StateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace hub {

namespace {

bool syncDirectoryOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

bool writeDurably(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    FILE* const file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size() &&
                         std::fflush(file) == 0 && ::fsync(fd) == 0;
    return std::fclose(file) == 0 && written;
}

}  // namespace

bool readStateFile(const std::string& path, std::string& content) {
    FILE* const file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        return false;
    }
    content.clear();
    char buffer[512];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, got);
    }
    const bool complete = std::ferror(file) == 0;
    std::fclose(file);
    if (!complete) {
        errno = EIO;
    }
    return complete;
}

bool replaceStateFile(const std::string& path, const std::string& content) {
    const std::string fresh = path + ".new";
    if (!writeDurably(fresh, content) || std::rename(fresh.c_str(), path.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return false;
    }
    return syncDirectoryOf(path);
}

}  // namespace hub
