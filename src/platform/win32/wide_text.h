// The Windows API's wide (UTF-16) strings to and from the client's UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "text/utf16_text.h"

namespace tarvo::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide characters are UTF-16 units");

inline std::u16string as_utf16(std::wstring_view wide) { return {wide.begin(), wide.end()}; }

inline std::wstring to_wide(std::string_view utf8) {
    const std::u16string units = text::utf8_to_utf16(utf8);
    return {units.begin(), units.end()};
}

// Lossy: a lone surrogate becomes U+FFFD.
inline std::string from_wide(std::wstring_view wide) { return text::utf16_to_utf8(as_utf16(wide)); }

inline bool is_valid_wide(std::wstring_view wide) { return text::is_valid_utf16(as_utf16(wide)); }

}  // namespace tarvo::platform::win32
