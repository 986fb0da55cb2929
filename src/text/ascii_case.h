// ASCII-only case folding for names that Windows and HTTP compare without
// regard to case (registry names, header and query names). Locale-free, and
// bytes outside A-Z, a-z pass unchanged, so UTF-8 text stays intact.
#pragma once

#include <algorithm>
#include <string_view>

namespace tarvo::text {

constexpr char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

constexpr bool starts_with_ignoring_ascii_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equal_ignoring_ascii_case(text.substr(0, prefix.size()), prefix);
}

}  // namespace tarvo::text
