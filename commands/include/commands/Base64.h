// Base64 of RFC 4648 (standard alphabet, "=" padding). Decoding is lenient:
// it stops at the end, at the first "=" or at the first byte outside the
// alphabet, and returns what was decoded up to there (a single leftover
// character yields nothing). No state is kept between calls.
#ifndef SATVARO_COMMANDS_BASE64_H
#define SATVARO_COMMANDS_BASE64_H

#include <string>

class Base64 {
public:
    static const std::string base64_chars;  // "A".."Z", "a".."z", "0".."9", "+", "/"

    static bool is_base64(unsigned char c);  // in the alphabet; "=" is not
    static std::string encode(const unsigned char* bytes, unsigned int length);
    static std::string decode(const std::string& text);  // may hold any byte
};

#endif
