// Every test process works in a scratch directory of its own, so the log
// files the channel writes never land in the build tree.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

class ScratchWorkDir : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/satvaro-serial-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        fs::current_path(m_dir);
    }
    void TearDown() override {
        fs::current_path("/");
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

private:
    fs::path m_dir;
};

const ::testing::Environment* const scratchWorkDir =
    ::testing::AddGlobalTestEnvironment(new ScratchWorkDir);

}  // namespace
