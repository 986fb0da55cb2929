// Conversions between UTF-8 and UTF-16, the text forms of the client and of
// the Windows API. Portable, so the rules are tested on every platform.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::text {

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Whether `text` is well-formed UTF-16 (every surrogate paired).
bool is_valid_utf16(std::u16string_view text);

// UTF-8 as UTF-16; each maximal ill-formed byte sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace tarvo::text
