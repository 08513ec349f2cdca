// The console's start-up and the choices that need no device: the command
// line, the activation code, the menu, quitting, and a driver library that is
// missing or lacks functions. Each case's transcript is a golden file.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "ConsoleTest.h"

namespace satvaro::test {
namespace {

constexpr char NO_LIBRARY[] = "/nonexistent";
constexpr char CODE_AS_DIRECTORY[] = "/";

struct Start {
    const char* name;
    std::vector<std::string> args;
    std::string storedCode;  // codigoRuv.bin before the run; empty: none
    std::string input;
    std::string libraryDir = LIBRARY_DIR;
};

const std::string CODE32(32, '7');
const std::string CODE33(33, '7');

// Only the first character of a line chooses. A stored first line of more
// than 32 characters is no code; a typed one is saved, then refused.
const Start STARTS[] = {
    {"one_argument", {"-f"}, "12345678", "q\n"},
    {"first_argument_not_f", {"-x", "venda.xml"}, "12345678", "q\n"},
    {"sale_file_missing", {"-f", "nowhere/venda.xml"}, "12345678", "6\nq\n"},
    {"three_arguments_ignored", {"-f", "venda.xml", "extra"}, "12345678", "6\nq\n"},
    {"choices_without_device", {}, "12345678", "x9\n6\n8\nq\n"},
    {"code_of_32_stored", {}, CODE32 + "\nsecond line", "q\n"},
    {"code_typed", {}, "", "12345678\nq\n"},
    {"code_of_33_stored", {}, CODE33, CODE32 + "\nq\n"},
    {"code_of_33_typed", {}, "", CODE33 + "\nq\n"},
    {"code_file_unwritable", {}, CODE_AS_DIRECTORY, "12345678\nq\n"},
    {"library_missing", {}, "12345678", "1\nq\n", NO_LIBRARY},
    {"library_without_version", {}, "12345678", "1\n2\nq\n", WITHOUT_VERSION_DIR},
};

// Each case's name, in its test's name.
void PrintTo(const Start& start, std::ostream* out) {
    *out << start.name;
}

class ConsoleStartup : public ConsoleTest, public ::testing::WithParamInterface<Start> {};

TEST_P(ConsoleStartup, Transcript) {
    const Start& start = GetParam();
    writeFile("venda.xml", "<CFe/>");
    writeFile("retUltimoCmd.bin", "\n\nearlier run");
    if (start.storedCode == CODE_AS_DIRECTORY) {
        ASSERT_EQ(mkdir(path("codigoRuv.bin").c_str(), 0700), 0);
    } else if (!start.storedCode.empty()) {
        writeFile("codigoRuv.bin", start.storedCode);
    }
    const ConsoleRun run = ConsoleTest::run(start.args, start.input, start.libraryDir);
    if (start.libraryDir == NO_LIBRARY && run.err.rfind("libsatvaro.so: ", 0) != 0) {
        GTEST_SKIP() << "a libsatvaro.so is installed on the loader's default path";
    }
    expectTranscript(start.name, transcript(run));
}

INSTANTIATE_TEST_SUITE_P(, ConsoleStartup, ::testing::ValuesIn(STARTS));

}  // namespace
}  // namespace satvaro::test
