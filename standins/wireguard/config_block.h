// The WireGuard-NT configuration layout as the stand-in library receives and
// answers it, and its translation to and from wireguard-go's UAPI text.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/expected.h"

namespace tarvo::standins {

using Key = std::array<std::uint8_t, 32>;

struct AllowedIp {
    std::array<std::uint8_t, 4> address{};
    std::uint8_t prefix = 0;
};

struct PeerConfig {
    Key public_key{};
    bool has_preshared_key = false;
    Key preshared_key{};
    bool has_keepalive = false;
    std::uint16_t keepalive = 0;
    bool has_endpoint = false;
    std::array<std::uint8_t, 4> endpoint_address{};
    std::uint16_t endpoint_port = 0;
    bool replace_allowed_ips = false;
    std::vector<AllowedIp> allowed_ips;
    // Only in what the device reports.
    std::uint64_t transmitted = 0;
    std::uint64_t received = 0;
    std::uint64_t last_handshake = 0;  // 100-ns ticks since 1601-01-01 UTC, 0 = never
};

struct InterfaceConfig {
    bool has_private_key = false;
    Key private_key{};
    bool has_listen_port = false;
    std::uint16_t listen_port = 0;
    bool replace_peers = false;
    std::vector<PeerConfig> peers;
};

// Checks a block handed to WireGuardSetConfiguration: its size is exactly
// what its counts say, only known flags are set, addresses are IPv4.
Expected<InterfaceConfig, std::string> read_config_block(std::span<const std::uint8_t> block);

// The block WireGuardGetConfiguration answers with.
std::vector<std::uint8_t> write_config_block(const InterfaceConfig& config);

// One UAPI "set=1" operation, blank line included.
std::string uapi_set_request(const InterfaceConfig& config);

// The device as a UAPI "get=1" answer describes it (IPv6 endpoints and
// allowed IPs are left out: the client uses none).
Expected<InterfaceConfig, std::string> read_uapi_get_reply(std::string_view reply);

}  // namespace tarvo::standins
