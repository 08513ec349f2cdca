// Another working directory for as long as the object lives; then the
// previous one again. By default the directory is a ScratchDir of its own,
// so whatever the code under test writes there goes with it.
#ifndef SATVARO_TESTS_SUPPORT_SCOPEDWORKDIR_H
#define SATVARO_TESTS_SUPPORT_SCOPEDWORKDIR_H

#include <filesystem>
#include <optional>

#include "ScratchDir.h"

class ScopedWorkDir {
public:
    ScopedWorkDir();
    // Works in `dir`, made first when missing; it is left in place.
    explicit ScopedWorkDir(const std::filesystem::path& dir);
    ~ScopedWorkDir();
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::optional<ScratchDir> m_scratch;
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};

#endif
