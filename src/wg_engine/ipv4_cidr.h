// Allowed IPs as the orchestrator sends them ("10.200.0.0/24", "10.1.2.3"),
// read strictly: four decimal octets and an optional prefix length.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

struct Ipv4Cidr {
    std::array<std::uint8_t, 4> network{};  // first octet first, host bits cleared
    std::uint8_t prefix = 0;                // 0 to 32
    friend bool operator==(const Ipv4Cidr&, const Ipv4Cidr&) = default;
};

// Surrounding blanks trimmed; the address (a strict dotted quad,
// util/ipv4_address.h) before the first '/', the prefix
// after it ("32" without a '/'): an unsigned 8-bit decimal with an optional
// '+', above 32 counting as 32. The network keeps the first `prefix` bits.
// Nothing for anything else, so an empty prefix after '/' gives nothing.
std::optional<Ipv4Cidr> parse_ipv4_cidr(std::string_view text);

// "10.1.0.0/16"
std::string format_ipv4_cidr(const Ipv4Cidr& cidr);

}  // namespace tarvo
