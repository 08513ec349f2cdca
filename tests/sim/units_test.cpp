// The simulator's building blocks that need no line: access keys, fault lines.
#include <gtest/gtest.h>

#include "sim/Cfe.h"
#include "sim/Faults.h"

using namespace satsim;

TEST(AccessKey, FortyFourDigitsEndingInTheirModulo11CheckDigit) {
    // A key issued by a real device.
    EXPECT_EQ("35150708723218000186599000040190000215133408",
              accessKeyDigits({"35", "1507", "08723218000186", "900004019", "000021", "513340"}));
    // Remainders 0 and 1 give 11 and 10, both written as 0.
    EXPECT_EQ(0, mod11CheckDigit("6"));  // 6 x 2 = 12, remainder 1
    EXPECT_EQ(1, mod11CheckDigit("5"));  // 5 x 2 = 10, remainder 10
}

TEST(FaultLines, AreCheckedBeforeTheyApply) {
    Faults faults;
    std::string error;
    EXPECT_TRUE(applyFault("pieces 3 20", faults, error));
    EXPECT_TRUE(applyFault("body a\\nb\\\\c d", faults, error));
    EXPECT_EQ("a\nb\\c d", faults.body);
    EXPECT_TRUE(applyFault("contentsize  12", faults, error));
    EXPECT_EQ(" 12", faults.contentSize);

    for (const char* invalid : {"delay", "delay -5", "delay 5ms", "pieces 0 10", "pieces 5 x",
                                "delta 1 2 3", "explode"}) {
        EXPECT_FALSE(applyFault(invalid, faults, error)) << invalid;
    }
    EXPECT_EQ(3, faults.pieces) << "an invalid line changes nothing";
    EXPECT_EQ(20, faults.piecesGapMs);
    EXPECT_NE(std::string::npos, error.find("explode"));
}
