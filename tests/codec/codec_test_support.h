// Helpers shared by the codec tests and benchmarks: message texts and input.
#ifndef SATVARO_TESTS_CODEC_SUPPORT_H
#define SATVARO_TESTS_CODEC_SUPPORT_H

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace codectest {

// A header block written by hand: "smx", the lines as given, two empty
// lines, then the body.
inline std::string rawMessage(const std::vector<std::string>& lines, const std::string& body = "") {
    std::string text = "smx\r\n";
    for (const auto& line : lines) {
        text += line + "\r\n";
    }
    return text + "\r\n\r\n" + body;
}

inline std::string randomBytes(std::mt19937& rng, std::size_t length) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(length, '\0');
    for (auto& c : bytes) {
        c = static_cast<char>(byte(rng));
    }
    return bytes;
}

// Text shaped like the sale documents the device exchanges, `length` bytes.
inline std::string xmlLikeBody(std::size_t length) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe versao=\"0.08\">";
    for (unsigned item = 1; text.size() < length; ++item) {
        text += "<det nItem=\"" + std::to_string(item) + "\"><prod><cProd>" +
                std::to_string(100000 + item * 7919 % 90000) + "</cProd><xProd>ITEM " +
                std::to_string(item % 97) + "</xProd><qCom>" + std::to_string(item % 13 + 1) +
                ".0000</qCom><vUnCom>" + std::to_string(item * 31 % 1000) +
                ".99</vUnCom></prod></det>";
    }
    text.resize(length);
    return text;
}

}  // namespace codectest

#endif
