#include "ConsoleTest.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace satvaro::test {

void ConsoleTest::SetUp() {
    std::string pattern = ::testing::TempDir() + "zozivodivo-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    m_workdir = pattern;
}

void ConsoleTest::TearDown() {
    std::filesystem::remove_all(m_workdir);
}

void ConsoleTest::writeFile(const std::string& name, const std::string& content) const {
    std::ofstream(path(name), std::ios::binary) << content;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

}  // namespace satvaro::test
