#include "text/utf16_text.h"

#include "text/utf8.h"

#include <cstdint>

namespace tarvo::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (is_high_surrogate(u) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            append_utf8(out, combine_surrogates(u, text[i + 1]));
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

bool is_valid_utf16(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (is_high_surrogate(text[i]) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) ++i;
        else if (is_high_surrogate(text[i]) || is_low_surrogate(text[i])) return false;
    }
    return true;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Step step = decode_utf8_at(text, i);
        append_utf16(out, step.valid ? step.code_point : kReplacement);
        i += step.length;
    }
    return out;
}

}  // namespace tarvo::text
