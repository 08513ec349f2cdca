// The "|"-field splitter of the transaction unit over arbitrary text and
// separators (the command layer's split prints and then returns the same
// fields). Input: the separator byte, then the text. Only the empty text
// has no field; the fields hold no separator and, joined again, give the
// text up to its first NUL without one trailing separator.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "transaction/DoTransaction.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char separator = static_cast<char>(data[0]);
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<std::string> fields = split(text, separator);

    const std::string read = text.substr(0, text.find('\0'));
    if (fields.empty() != read.empty()) {
        std::abort();  // only the empty text has no field
    }
    std::string expected = read;
    if (!expected.empty() && expected.back() == separator) {
        expected.pop_back();
    }
    std::string joined;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].find(separator) != std::string::npos) {
            std::abort();
        }
        joined += (i == 0 ? "" : std::string(1, separator)) + fields[i];
    }
    if (joined != expected) {
        std::abort();
    }
    return 0;
}
