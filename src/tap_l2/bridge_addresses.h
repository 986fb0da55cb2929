// The values a bridge start derives from the orchestrator's answer and from
// what the system reports: tunnel id, the hub's and the TAP adapter's address
// texts, the bound tunnel address, the keepalive's sender and the adapter's
// MAC address with their fallbacks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "orchestrator/records.h"
#include "tap_l2/eoip.h"
#include "util/ipv4_address.h"

namespace tarvo {

// Used when the answer holds no usable address or MAC for the TAP adapter.
inline constexpr Ipv4Address kFallbackKeepaliveSender{{192, 168, 12, 10}};
inline constexpr MacAddress kFallbackTapMac{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

// The link's tunnel id when above 0, else the answer's when above 0, else
// node_id + 1000; the low 16 bits of the chosen value.
std::uint16_t derive_tunnel_id(const LinkInfo& link, const BootstrapResult& answer);

// The link's hub_ip when present and not empty, else the probe's target.
std::string hub_address_text(const LinkInfo& link, std::string_view probe_target);

// The link's tap_ip, else the answer's tap_ip (each when present and not
// empty), else the answer's local_subnet whatever it holds.
std::string tap_address_text(const LinkInfo& link, const BootstrapResult& answer);

// A tunnel address text ("10.200.0.7/24" or "10.200.0.7"): cut at the first
// '/', trimmed of surrounding blanks, read as a dotted IPv4 address.
std::optional<Ipv4Address> parse_tunnel_address(std::string_view text);

// The keepalive's sender: the TAP host address text read as it is (no
// trimming), or 192.168.12.10 when it is not an address.
Ipv4Address keepalive_sender_address(std::string_view tap_host_address);

// Cuts a MAC address text at every ':' and '-'. Every separator ends a piece,
// so "a-" gives "a" and then an empty piece, and an empty text gives one
// empty piece.
struct MacPartSplitter {
    std::string_view rest;
    bool finished = false;
};
std::optional<std::string_view> next_mac_part(MacPartSplitter& splitter);

// The adapter's MAC address from the system's answer (surrounding blanks
// removed): exactly six hexadecimal pieces of 0 to 255 each (either case, an
// optional leading '+'); anything else gives 02:00:00:00:00:01.
MacAddress parse_mac_address(std::string_view reported);

}  // namespace tarvo
