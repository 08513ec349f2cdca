// The runner's splitter, which needs no device.
#include "transaction/DoTransaction.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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

}  // namespace
