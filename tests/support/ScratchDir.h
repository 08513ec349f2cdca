// A fresh directory of its own below the system's temporary directory,
// removed with everything in it when the object goes away. Throws
// std::runtime_error when it cannot be made.
#ifndef SATVARO_TESTS_SUPPORT_SCRATCHDIR_H
#define SATVARO_TESTS_SUPPORT_SCRATCHDIR_H

#include <filesystem>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

#endif
