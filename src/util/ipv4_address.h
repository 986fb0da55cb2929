// An IPv4 address as four octets in network order, and the strict dotted-quad
// text form: exactly four decimal octets of 0 to 255, no leading zeros, no
// signs, no blanks. Nothing else counts as an address, so a text that parses
// here is safe to place in a command line or a script.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};  // network order: octets[0] is the first

    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

inline std::optional<Ipv4Address> parse_dotted_ipv4(std::string_view text) {
    Ipv4Address address;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (text.empty() || text.front() != '.') return std::nullopt;
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        unsigned value = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        if (digits > 1 && text.front() == '0') return std::nullopt;
        address.octets[i] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty()) return std::nullopt;
    return address;
}

inline std::string to_dotted(const Ipv4Address& address) {
    std::string text;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(address.octets[i]);
    }
    return text;
}

}  // namespace tarvo
