// UTF-8 checks shared by every platform: the client keeps all its texts in
// UTF-8 and shows bytes from the outside world with invalid parts replaced.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::text {

// One step of decoding: the code point at a position, or, for an ill-formed
// sequence, the length of its maximal ill-formed subpart (at least 1 byte).
struct Utf8Step {
    char32_t code_point;  // meaningful only when `valid`
    std::size_t length;   // bytes taken
    bool valid;
};

// Decodes the sequence starting at `bytes[i]` (which must exist).
Utf8Step decode_utf8_at(std::string_view bytes, std::size_t i);

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view bytes);

// Bytes as UTF-8 with every maximal ill-formed subpart replaced by one U+FFFD.
std::string decode_utf8_lossy(std::string_view bytes);

// Bytes as a terminal may show them without obeying any of them: well-formed
// UTF-8 stays as it is, the C0 controls and DEL become \x1b and the like, the
// C1 controls \u{9b} and the like, and each byte of an ill-formed sequence
// \xNN (never below \x80, so it cannot be taken for a control).
std::string escape_controls(std::string_view bytes);

// Appends the UTF-8 form of one Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace tarvo::text
