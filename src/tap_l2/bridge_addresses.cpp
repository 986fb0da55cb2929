#include "tap_l2/bridge_addresses.h"

#include "text/unicode_text.h"

namespace tarvo {

namespace {

bool present_and_not_empty(const std::optional<std::string>& text) { return text && !text->empty(); }

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::uint8_t> parse_mac_byte(std::string_view piece) {
    if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
    if (piece.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char c : piece) {
        const int digit = hex_digit_value(c);
        if (digit < 0) return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 255) return std::nullopt;  // leading zeros stay allowed
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::uint16_t derive_tunnel_id(const LinkInfo& link, const BootstrapResult& answer) {
    std::uint32_t chosen;
    if (link.tunnel_id > 0) {
        chosen = static_cast<std::uint32_t>(link.tunnel_id);
    } else if (answer.tunnel_id > 0) {
        chosen = static_cast<std::uint32_t>(answer.tunnel_id);
    } else {
        // 32-bit addition that wraps instead of overflowing a signed value.
        chosen = static_cast<std::uint32_t>(answer.node_id) + 1000u;
    }
    return static_cast<std::uint16_t>(chosen & 0xFFFFu);
}

std::string hub_address_text(const LinkInfo& link, std::string_view probe_target) {
    if (present_and_not_empty(link.hub_ip)) return *link.hub_ip;
    return std::string(probe_target);
}

std::string tap_address_text(const LinkInfo& link, const BootstrapResult& answer) {
    if (present_and_not_empty(link.tap_ip)) return *link.tap_ip;
    if (present_and_not_empty(answer.tap_ip)) return *answer.tap_ip;
    return answer.local_subnet;
}

std::optional<Ipv4Address> parse_tunnel_address(std::string_view text) {
    const std::size_t slash = text.find('/');
    return parse_dotted_ipv4(unicode::trim_white_space(text.substr(0, slash)));
}

Ipv4Address keepalive_sender_address(std::string_view tap_host_address) {
    return parse_dotted_ipv4(tap_host_address).value_or(kFallbackKeepaliveSender);
}

std::optional<std::string_view> next_mac_part(MacPartSplitter& splitter) {
    if (splitter.finished) return std::nullopt;
    const std::size_t separator = splitter.rest.find_first_of(":-");
    if (separator == std::string_view::npos) {
        splitter.finished = true;
        return splitter.rest;
    }
    const std::string_view piece = splitter.rest.substr(0, separator);
    splitter.rest.remove_prefix(separator + 1);
    return piece;
}

MacAddress parse_mac_address(std::string_view reported) {
    MacPartSplitter splitter{unicode::trim_white_space(reported)};
    MacAddress mac{};
    std::size_t count = 0;
    while (const auto piece = next_mac_part(splitter)) {
        if (count == mac.size()) return kFallbackTapMac;  // a seventh piece
        const auto byte = parse_mac_byte(*piece);
        if (!byte) return kFallbackTapMac;
        mac[count++] = *byte;
    }
    return count == mac.size() ? mac : kFallbackTapMac;
}

}  // namespace tarvo
