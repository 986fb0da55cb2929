#include "text/unicode_text.h"

#include <algorithm>

#include "text/unicode_tables.h"

namespace tarvo::unicode {

namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

constexpr Character invalid_byte{0, 1, false};

}  // namespace

Character next_character(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return {lead, 1, true};

    std::size_t length;
    char32_t code_point;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return invalid_byte;
    }
    if (text.size() < length) return invalid_byte;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (!is_continuation(byte)) return invalid_byte;
        code_point = (code_point << 6) | (byte & 0x3F);
    }
    const bool surrogate = code_point >= 0xD800 && code_point <= 0xDFFF;
    if (code_point < minimum || code_point > 0x10FFFF || surrogate) return invalid_byte;
    return {code_point, length, true};
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
