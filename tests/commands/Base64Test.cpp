#include "commands/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Base64, EncodesAndDecodesTheRfc4648Vectors) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"},
                                                           {"abc", "YWJj"},
                                                           {"a", "YQ=="},
                                                           {"ab", "YWI="}};
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(Base64::encode(plain), coded) << plain;
        EXPECT_EQ(Base64::decode(coded), plain) << coded;
    }
}

TEST(Base64, DecodingStopsWhereTheDataCannotGoOn) {
    EXPECT_EQ(Base64::decode("YQ"), "a");  // padding may be missing
    EXPECT_EQ(Base64::decode("YWI"), "ab");
    EXPECT_EQ(Base64::decode("YWJjZ"), "abc");       // a lone leftover yields nothing
    EXPECT_EQ(Base64::decode("YWJj\nZGVm"), "abc");  // first line only
    EXPECT_EQ(Base64::decode("YQ==YWJj"), "a");      // nothing after padding
    EXPECT_EQ(Base64::decode("YWJj ZGVm"), "abc");
    EXPECT_EQ(Base64::decode("YWJj-ZGVm"), "abc");  // URL-safe letters end it
    EXPECT_EQ(Base64::decode("YWJj_ZGVm"), "abc");
    EXPECT_EQ(Base64::decode("YWJj\xC3ZGVm"), "abc");  // bytes of 128 and above too
    EXPECT_EQ(Base64::decode("=YWJj"), "");
}

TEST(Base64, AlphabetIsTheStandardOneWithoutPadding) {
    EXPECT_EQ(Base64::base64_chars,
              "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    int accepted = 0;
    for (int c = 0; c < 256; ++c) {
        const bool inAlphabet =
            Base64::base64_chars.find(static_cast<char>(c)) != std::string::npos;
        EXPECT_EQ(Base64::is_base64(static_cast<unsigned char>(c)), inAlphabet) << c;
        accepted += inAlphabet ? 1 : 0;
    }
    EXPECT_EQ(accepted, 64);
    EXPECT_FALSE(Base64::is_base64('='));
}

TEST(Base64, RoundTripsEveryByteValueAtEveryLengthRemainder) {
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    for (std::size_t cut = 0; cut < 3; ++cut) {
        const std::string bytes = all.substr(cut);
        const std::string coded = Base64::encode(bytes);
        EXPECT_EQ(coded.size() % 4, 0u);
        EXPECT_EQ(coded.find_first_not_of(Base64::base64_chars + "="), std::string::npos);
        EXPECT_EQ(Base64::decode(coded), bytes);
    }
}

}  // namespace
