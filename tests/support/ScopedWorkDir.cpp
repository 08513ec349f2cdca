#include "ScopedWorkDir.h"

namespace fs = std::filesystem;

ScopedWorkDir::ScopedWorkDir() : m_scratch(std::in_place), m_previous(fs::current_path()) {
    m_path = m_scratch->path();
    fs::current_path(m_path);
}

ScopedWorkDir::ScopedWorkDir(const fs::path& dir) : m_previous(fs::current_path()), m_path(dir) {
    fs::create_directories(m_path);
    fs::current_path(m_path);
}

ScopedWorkDir::~ScopedWorkDir() {
    std::error_code ignored;
    fs::current_path(m_previous, ignored);
}
