// The WgConfigBlock handed to WireGuardSetConfiguration, and the peer's
// traffic counters read back from WireGuardGetConfiguration's answer.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "wg_engine/ipv4_cidr.h"
#include "wg_engine/wg_key.h"

namespace tarvo {

struct WgEndpoint {
    std::array<std::uint8_t, 4> address{};  // most significant octet first
    std::uint16_t port = 0;
    friend bool operator==(const WgEndpoint&, const WgEndpoint&) = default;
};

inline constexpr std::uint16_t kPersistentKeepaliveSeconds = 15;

// 216 + 24 n bytes, every byte written: the node's private key (listen port
// chosen by the driver, peers replaced), one peer (the hub's key, keepalive
// 15 s, the endpoint, allowed IPs replaced) and its n allowed IPs in order.
std::vector<std::uint8_t> build_wg_config_block(const WgKey& private_key, const WgKey& hub_key,
                                                const WgEndpoint& endpoint,
                                                std::span<const Ipv4Cidr> allowed_ips);

struct WgPeerTraffic {
    std::uint64_t transmitted = 0;
    std::uint64_t received = 0;
    friend bool operator==(const WgPeerTraffic&, const WgPeerTraffic&) = default;
};

// The first peer's transmitted (byte 184) and received (byte 192) counts;
// nothing when the block is too short to hold a whole peer (215 bytes or less).
std::optional<WgPeerTraffic> read_first_peer_traffic(std::span<const std::uint8_t> block);

}  // namespace tarvo
