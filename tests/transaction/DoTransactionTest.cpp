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
    EXPECT_EQ(split("000123", '|'), Fields{"000123"});
    EXPECT_EQ(split("a||b|", '|'), (Fields{"a", "", "b"}));  // no trailing empty field
    EXPECT_EQ(split("|", '|'), Fields{""});                  // as many fields as separators
    EXPECT_EQ(split("||", '|'), (Fields{"", ""}));
    EXPECT_EQ(split("|a", '|'), (Fields{"", "a"}));
    EXPECT_EQ(split("a|b||", '|'), (Fields{"a", "b", ""}));
    EXPECT_EQ(split(std::string("a|b\0|c", 6), '|'), (Fields{"a", "b"}));  // up to the NUL
    EXPECT_EQ(split("a;b|c", ';'), (Fields{"a", "b|c"}));
}

// The stamp of the dump names: year, day, month, time.
std::string dumpStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%d%m%H%M%S", &local);
    return stamp;
}

std::set<std::string> filesHere() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

TEST(FileDump, WritesRequestSummaryAndReplyUnderOneStamp) {
    ScopedWorkDir workDir;
    DoTransaction transaction;
    const std::string request("smx\r\n\0\x01\xff", 8);
    const std::string reply = "000001|08000|ok";

    const std::time_t before = std::time(nullptr);
    transaction.fileDump("ConsultarSAT", request.data(), request.size(), reply.data(),
                         reply.size());
    const std::time_t after = std::time(nullptr);

    const std::set<std::string> names = filesHere();
    ASSERT_EQ(names.size(), 3u);
    const std::string stamp = names.begin()->substr(0, 14);
    EXPECT_TRUE(stamp == dumpStamp(before) || stamp == dumpStamp(after)) << stamp;
    const std::string prefix = stamp + "_ConsultarSAT";
    EXPECT_EQ(names, (std::set<std::string>{prefix + "_debug.txt", prefix + "_rx.bin",
                                            prefix + "_tx.bin"}));
    EXPECT_EQ(readFile(prefix + "_tx.bin"), request);
    EXPECT_EQ(readFile(prefix + "_rx.bin"), reply);
    EXPECT_EQ(readFile(prefix + "_debug.txt"),
              "DRS Version:01.00.01.001\r\nDebug msg code: ConsultarSAT\r\n"
              "txBufferSize:8\r\nrxBufferSize:15\r\n");
}

TEST(FileDump, NoReplyMeansNoReplyFile) {
    ScopedWorkDir workDir;
    DoTransaction transaction;
    transaction.fileDump("AtivarSAT", "x", 1, nullptr, 0);
    const std::set<std::string> names = filesHere();
    ASSERT_EQ(names.size(), 2u);
    for (const std::string& name : names) {
        EXPECT_TRUE(name.find("_AtivarSAT_tx.bin") != std::string::npos ||
                    name.find("_AtivarSAT_debug.txt") != std::string::npos)
            << name;
    }
}

}  // namespace
