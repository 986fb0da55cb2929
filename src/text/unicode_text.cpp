#include "text/unicode_text.h"

#include <algorithm>

#include "text/unicode_tables.h"
#include "text/utf8.h"

namespace tarvo::unicode {

Character next_character(std::string_view text) {
    const tarvo::text::Utf8Step step = tarvo::text::decode_utf8_at(text, 0);
    if (!step.valid) return {0, 1, false};  // one invalid byte is one character here
    return {step.code_point, step.length, true};
}

bool is_white_space(char32_t code_point) {
    const char32_t* end = unicode_tables::white_space + unicode_tables::white_space_count;
    return std::binary_search(unicode_tables::white_space, end, code_point);
}

void append_upper(std::string& out, std::string_view bytes, const Character& c) {
    if (c.valid) {
        const auto* begin = unicode_tables::upper_mappings;
        const auto* end = begin + unicode_tables::upper_mapping_count;
        const auto* found = std::lower_bound(
            begin, end, c.code_point,
            [](const unicode_tables::UpperMapping& m, char32_t cp) { return m.code_point < cp; });
        if (found != end && found->code_point == c.code_point) {
            out += found->upper_utf8;
            return;
        }
    }
    // A byte of invalid UTF-8 becomes U+FFFD, so that bytes left apart by a
    // removed blank or dash cannot join into a character later.
    if (!c.valid) out += "\xEF\xBF\xBD";
    else out.append(bytes.substr(0, c.length));
}

std::string_view trim_white_space(std::string_view text) {
    // Leading: walk forward character by character.
    while (!text.empty()) {
        const Character c = next_character(text);
        if (!c.valid || !is_white_space(c.code_point)) break;
        text.remove_prefix(c.length);
    }
    // Trailing: find the end of the last character that is not white space.
    std::size_t keep = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const Character c = next_character(text.substr(pos));
        pos += c.length;
        if (!c.valid || !is_white_space(c.code_point)) keep = pos;
    }
    return text.substr(0, keep);
}

}  // namespace tarvo::unicode
