// Texts for JSON, which must be UTF-8: the library hands back the device's
// reply bytes as they came, and a device may answer in Latin-1.
#ifndef SATVARO_HUB_UTF8TEXT_H
#define SATVARO_HUB_UTF8TEXT_H

#include <string>
#include <string_view>

namespace hub {

// `bytes` as UTF-8: well-formed UTF-8 sequences unchanged, every other byte
// taken as the Latin-1 character of that value. Text that is already UTF-8
// comes back as it is.
std::string asUtf8(std::string_view bytes);

// The length of the well-formed UTF-8 sequence at the start of `text` (no
// overlong forms, no surrogates, nothing above U+10FFFF); 0 when there is none.
std::size_t utf8SequenceLength(std::string_view text);

}  // namespace hub

#endif
