// The runner's pieces that need no device: the splitter and the dump files.
#include "transaction/DoTransaction.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ScopedWorkDir.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
using Fields = std::vector<std::string>;

TEST(Split, FieldRules) {
    EXPECT_EQ(split("", '|'), Fields{});
    EXPECT_EQ(split("a||b|", '|'), (Fields{"a", "", "b"}));  // no trailing empty field
    EXPECT_EQ(split("|", '|'), Fields{""});                  // as many fields as separators
    EXPECT_EQ(split("|a", '|'), (Fields{"", "a"}));
    EXPECT_EQ(split("a|b||", '|'), (Fields{"a", "b", ""}));
    EXPECT_EQ(split(std::string("a|b\0|c", 6), '|'), (Fields{"a", "b"}));  // up to the NUL
    EXPECT_EQ(split("a;b|c", ';'), (Fields{"a", "b|c"}));
}

// Request, summary and reply under one stamp: year, day, month, time.
TEST(FileDump, WritesRequestSummaryAndReplyUnderOneStamp) {
    ScopedWorkDir workDir;
    DoTransaction transaction;
    const std::string request("smx\r\n\0\x01\xff", 8);
    const std::time_t before = std::time(nullptr);
    transaction.fileDump("ConsultarSAT", request.data(), request.size(), "000001|08000|ok", 15);
    transaction.fileDump("AtivarSAT", "x", 1, nullptr, 0);  // no reply: no reply file
    const std::time_t after = std::time(nullptr);

    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) {
        names.insert(entry.path().filename().string());
    }
    ASSERT_EQ(names.size(), 5u);
    const std::string stamp = names.begin()->substr(0, 14);
    std::set<std::string> stamps;
    for (const std::time_t when : {before, after}) {
        char text[32];
        std::tm local{};
        std::strftime(text, sizeof text, "%Y%d%m%H%M%S", localtime_r(&when, &local));
        stamps.insert(text);
    }
    EXPECT_EQ(stamps.count(stamp), 1u) << stamp;
    const std::string prefix = stamp + "_ConsultarSAT";
    EXPECT_EQ(readFile(prefix + "_tx.bin"), request);
    EXPECT_EQ(readFile(prefix + "_rx.bin"), "000001|08000|ok");
    EXPECT_EQ(readFile(prefix + "_debug.txt"),
              "DRS Version:01.00.01.001\r\nDebug msg code: ConsultarSAT\r\n"
              "txBufferSize:8\r\nrxBufferSize:15\r\n");
    EXPECT_EQ(names.count(names.rbegin()->substr(0, 14) + "_AtivarSAT_tx.bin"), 1u);
    EXPECT_EQ(names.count(names.rbegin()->substr(0, 14) + "_AtivarSAT_debug.txt"), 1u);
}

}  // namespace
