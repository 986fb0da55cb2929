#include "orchestrator/access_code.h"

#include <algorithm>

#include "text/unicode_text.h"

namespace tarvo {

namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

bool is_ascii_alnum(char c) { return is_ascii_digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool all_of(std::string_view text, bool (*pred)(char)) { return std::all_of(text.begin(), text.end(), pred); }

std::string clean(std::string_view code) {
    std::string out;
    out.reserve(code.size());
    while (!code.empty()) {
        const unicode::Character c = unicode::next_character(code);
        const bool dropped = c.valid && (c.code_point == U'-' || unicode::is_white_space(c.code_point));
        if (!dropped) unicode::append_upper(out, code, c);
        code.remove_prefix(c.length);
    }
    return out;
}

bool is_device_key(std::string_view cleaned) {
    return cleaned.size() == 12 && all_of(cleaned, is_ascii_alnum);
}

struct PassParts {
    std::string_view hours;
    std::string_view rest;
};

// The two parts of a cleaned service pass, split at the first "H" after
// "PASS"; nothing when the text is not a service pass.
std::optional<PassParts> pass_parts(std::string_view cleaned) {
    constexpr std::string_view prefix = "PASS";
    if (!cleaned.starts_with(prefix)) return std::nullopt;
    const std::string_view after = cleaned.substr(prefix.size());
    const std::size_t h = after.find('H');
    if (h == std::string_view::npos) return std::nullopt;
    const PassParts parts{after.substr(0, h), after.substr(h + 1)};
    const bool hours_ok = !parts.hours.empty() && parts.hours.size() <= 4 &&
                          all_of(parts.hours, is_ascii_digit);
    const bool rest_ok = parts.rest.size() == 8 && all_of(parts.rest, is_ascii_alnum);
    if (!hours_ok || !rest_ok) return std::nullopt;
    return parts;
}

}  // namespace

std::string normalize_access_code(std::string_view code) {
    std::string cleaned = clean(code);
    if (const auto parts = pass_parts(cleaned)) {
        return "PASS-" + std::string(parts->hours) + "H-" + std::string(parts->rest);
    }
    return cleaned;
}

bool is_valid_access_code(std::string_view code) {
    const std::string cleaned = clean(code);
    return is_device_key(cleaned) || pass_parts(cleaned).has_value();
}

std::string format_pass_expiry(const std::optional<std::string>& expires_at) {
    const std::string_view trimmed = expires_at ? unicode::trim_white_space(*expires_at) : std::string_view{};
    if (trimmed.empty()) return "aktywna";

    std::string text(trimmed);
    std::replace(text.begin(), text.end(), 'T', ' ');
    while (!text.empty() && text.back() == 'Z') text.pop_back();

    // Keep the first 16 characters, not bytes.
    std::size_t end = 0;
    for (int kept = 0; kept < 16 && end < text.size(); ++kept) {
        end += unicode::next_character(std::string_view(text).substr(end)).length;
    }
    text.resize(end);
    return text;
}

}  // namespace tarvo
