#include "commands/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string encode(const std::string& bytes) {
    return Base64::encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                          static_cast<unsigned int>(bytes.size()));
}

TEST(Base64, Rfc4648VectorsAndEveryByteValue) {
    const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                           {"f", "Zg=="},
                                                           {"fo", "Zm8="},
                                                           {"foo", "Zm9v"},
                                                           {"foob", "Zm9vYg=="},
                                                           {"fooba", "Zm9vYmE="},
                                                           {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, coded] : vectors) {
        EXPECT_EQ(encode(plain), coded) << plain;
        EXPECT_EQ(Base64::decode(coded), plain) << coded;
    }
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all += static_cast<char>(c);
    }
    for (std::size_t cut = 0; cut < 3; ++cut) {
        EXPECT_EQ(Base64::decode(encode(all.substr(cut))), all.substr(cut));
    }
}

TEST(Base64, DecodingStopsWhereTheDataCannotGoOn) {
    const std::pair<std::string, std::string> cases[] = {
        {"YQ", "a"},                                     // padding may be missing
        {"YWI", "ab"},         {"YWJjZ", "abc"},         // a lone leftover yields nothing
        {"YWJj\nZGVm", "abc"},                           // first line only
        {"YQ==YWJj", "a"},                               // nothing after padding
        {"YWJj ZGVm", "abc"},  {"YWJj-ZGVm", "abc"},     // URL-safe letters end it
        {"YWJj_ZGVm", "abc"},  {"YWJj\xC3ZGVm", "abc"},  // bytes of 128 and above too
        {"=YWJj", ""},
    };
    for (const auto& [coded, plain] : cases) {
        EXPECT_EQ(Base64::decode(coded), plain) << coded;
    }
}

}  // namespace
