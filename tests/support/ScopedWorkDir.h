// Scratch directories for tests.
#ifndef SATVARO_TESTS_SUPPORT_SCOPEDWORKDIR_H
#define SATVARO_TESTS_SUPPORT_SCOPEDWORKDIR_H

#include <filesystem>

// A fresh directory of its own below the system's temporary directory,
// removed with everything in it when the object goes away. Throws
// std::runtime_error when it cannot be made.
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

// A scratch directory as the working directory for as long as the object
// lives; then the previous one again.
class ScopedWorkDir {
public:
    ScopedWorkDir() : m_previous(std::filesystem::current_path()) {
        std::filesystem::current_path(m_scratch.path());
    }
    ~ScopedWorkDir() {
        std::error_code ignored;
        std::filesystem::current_path(m_previous, ignored);
    }
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& path() const { return m_scratch.path(); }

private:
    ScratchDir m_scratch;
    std::filesystem::path m_previous;
};

#endif
