#include "main/access_code_interim.h"

#include <optional>

namespace tarvo {

namespace {

bool is_ascii_alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string clean(std::string_view code) {
    std::string out;
    for (char c : code) {
        if (is_ascii_space(c) || c == '-') continue;
        out.push_back((c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c);
    }
    return out;
}

struct PassParts {
    std::string_view hours;
    std::string_view suffix;
};

std::optional<PassParts> split_pass(std::string_view cleaned) {
    if (!cleaned.starts_with("PASS")) return std::nullopt;
    const std::string_view rest = cleaned.substr(4);
    const std::size_t h = rest.find('H');
    if (h == std::string_view::npos) return std::nullopt;
    const std::string_view hours = rest.substr(0, h);
    const std::string_view suffix = rest.substr(h + 1);
    if (hours.empty() || hours.size() > 4) return std::nullopt;
    for (char c : hours)
        if (!is_ascii_digit(c)) return std::nullopt;
    if (suffix.size() != 8) return std::nullopt;
    for (char c : suffix)
        if (!is_ascii_alnum(c)) return std::nullopt;
    return PassParts{hours, suffix};
}

bool is_device_key(std::string_view cleaned) {
    if (cleaned.size() != 12) return false;
    for (char c : cleaned)
        if (!is_ascii_alnum(c)) return false;
    return true;
}

}  // namespace

std::string normalize_access_code(std::string_view code) {
    std::string cleaned = clean(code);
    if (auto pass = split_pass(cleaned))
        return "PASS-" + std::string(pass->hours) + "H-" + std::string(pass->suffix);
    return cleaned;
}

bool is_valid_access_code(std::string_view code) {
    const std::string cleaned = clean(code);
    return is_device_key(cleaned) || split_pass(cleaned).has_value();
}

}  // namespace tarvo
