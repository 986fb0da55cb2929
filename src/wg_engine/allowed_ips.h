// What the tunnel routes: the allowed-IP set of the WireGuard peer and the
// rules that decide which of an answer's subnets it carries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "orchestrator/records.h"

namespace tarvo {

// The two prefixes every tunnel carries.
inline constexpr std::string_view kHubSubnet = "10.200.0.0/24";
inline constexpr std::string_view kProjectSubnet = "10.254.0.0/16";

// Trimmed; "a.b.c.d/24" becomes "a.b.c.0/24" with the first three octets
// kept as written; anything else is returned trimmed.
std::string normalize_lan_subnet(std::string_view subnet);

// The subnet on the far side of a link, seen from node `node_id`.
const std::string& far_side_subnet(const LinkInfo& link, std::int32_t node_id);

// The sorted, repeat-free allowed IPs for `result`. Texts that are no IPv4
// prefix are kept: the engine passes over them later.
std::vector<std::string> compute_allowed_ips(const BootstrapResult& result, bool force_l3);

}  // namespace tarvo
