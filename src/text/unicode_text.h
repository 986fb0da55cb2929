// Character-level helpers over UTF-8 text, for cleaning typed codes.
//
// Input need not be valid UTF-8: each byte that does not start a well-formed
// sequence (stray continuation, overlong form, surrogate, beyond U+10FFFF,
// truncated) counts as one character of its own that has no properties and
// no case mapping, and is copied through unchanged.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::unicode {

struct Character {
    char32_t code_point;  // meaningful only when `valid`
    std::size_t length;   // bytes taken from the text, at least 1
    bool valid;           // false for a single byte of invalid UTF-8
};

// The character at the start of `text` (which must not be empty).
Character next_character(std::string_view text);

bool is_white_space(char32_t code_point);

// Appends the full upper-case form of `c` (its bytes, unchanged when it has
// none or is invalid) to `out`.
void append_upper(std::string& out, std::string_view bytes, const Character& c);

// `text` without the White_Space characters at both ends.
std::string_view trim_white_space(std::string_view text);

}  // namespace tarvo::unicode
