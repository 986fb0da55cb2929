// Conversions between UTF-8 and UTF-16, the text forms of the client and of
// the Windows API. Portable, so the rules are tested on every platform.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::text {

// UTF-16 surrogates, as they also appear in JSON's \u escapes.
constexpr bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
// The code point a high and a low surrogate stand for together.
constexpr char32_t combine_surrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

// Whether `text` is well-formed UTF-16 (every surrogate paired).
bool is_valid_utf16(std::u16string_view text);

// UTF-8 as UTF-16; each maximal ill-formed byte sequence becomes U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

}  // namespace tarvo::text
