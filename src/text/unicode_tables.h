// Tables generated at build time from the Unicode Character Database (see
// cmake/unicode_tables.py); both builds compile the same data.
#pragma once

#include <cstddef>

namespace tarvo::unicode_tables {

// Code points with the White_Space property, ascending.
extern const char32_t white_space[];
extern const std::size_t white_space_count;

// The full upper-case form of one character, unconditional mappings only.
struct UpperMapping {
    char32_t code_point;
    const char* upper_utf8;  // one or more characters, NUL-terminated
};

// Every character whose upper-case form differs from itself, ascending.
extern const UpperMapping upper_mappings[];
extern const std::size_t upper_mapping_count;

}  // namespace tarvo::unicode_tables
