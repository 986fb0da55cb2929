#include "wg_engine/ipv4_cidr.h"

#include "text/unicode_text.h"
#include "util/ipv4_address.h"

namespace tarvo {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits only, at most `max_digits`, value at most `max`.
std::optional<unsigned> parse_decimal(std::string_view text, std::size_t max_digits, unsigned max) {
    if (text.empty() || text.size() > max_digits) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (!is_digit(c)) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > max) return std::nullopt;
    return value;
}

// An unsigned 8-bit number: optional '+', then digits (leading zeros allowed).
std::optional<unsigned> parse_u8(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    return parse_decimal(text, 3, 255);
}

}  // namespace

std::optional<Ipv4Cidr> parse_ipv4_cidr(std::string_view text) {
    text = unicode::trim_white_space(text);
    const std::size_t slash = text.find('/');
    const std::string_view address_part = text.substr(0, slash);
    const std::string_view prefix_part = slash == std::string_view::npos ? "32" : text.substr(slash + 1);
    const auto parsed = parse_dotted_ipv4(unicode::trim_white_space(address_part));
    const auto prefix = parse_u8(unicode::trim_white_space(prefix_part));
    if (!parsed || !prefix) return std::nullopt;
    const auto& address = parsed->octets;
    const unsigned length = *prefix > 32 ? 32 : *prefix;
    std::uint32_t bits = std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
                         std::uint32_t{address[2]} << 8 | std::uint32_t{address[3]};
    bits &= length == 0 ? 0 : ~std::uint32_t{0} << (32 - length);
    Ipv4Cidr cidr;
    cidr.network = {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                    static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    cidr.prefix = static_cast<std::uint8_t>(length);
    return cidr;
}

std::string format_ipv4_cidr(const Ipv4Cidr& cidr) {
    std::string text;
    for (std::size_t i = 0; i < cidr.network.size(); ++i) {
        if (i > 0) text += '.';
        text += std::to_string(cidr.network[i]);
    }
    return text + '/' + std::to_string(cidr.prefix);
}

}  // namespace tarvo
