// Start inputs with two fixed keys, for tests of the WireGuard-NT engine.
#pragma once

#include <cstdint>

#include "wg_engine/wg_engine.h"
#include "wg_engine/wg_key.h"

namespace tarvo::testing {

// The node's key is the 32 bytes 0x00..0x1F, the hub's 0x20..0x3F.
inline constexpr const char* kNodePrivateKey = "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8=";
inline constexpr const char* kHubPublicKey = "ICEiIyQlJicoKSorLC0uLzAxMjM0NTY3ODk6Ozw9Pj8=";

inline WgKey counting_key(std::uint8_t first) {
    WgKey key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(first + i);
    return key;
}

// Allowed IPs 10.200.0.0/24 and 10.254.0.0/16, tunnel address 10.200.0.7/32,
// hub at 192.0.2.1:51820.
inline WgStartInputs sample_start_inputs() {
    WgStartInputs in;
    in.allowed_ips = {"10.200.0.0/24", "10.254.0.0/16"};
    in.private_key = kNodePrivateKey;
    in.hub_public_key = kHubPublicKey;
    in.wg_ip = "10.200.0.7/32";
    in.hub_endpoint = "192.0.2.1:51820";
    return in;
}

}  // namespace tarvo::testing
