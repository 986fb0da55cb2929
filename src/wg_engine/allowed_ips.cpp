#include "wg_engine/allowed_ips.h"

#include <algorithm>
#include <set>

#include "text/unicode_text.h"

namespace tarvo {
namespace {

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        pieces.push_back(
            text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) return pieces;
        start = at + 1;
    }
}

bool routes_own_lan(const std::string& node_type) {
    return node_type == "desktop" || node_type == "mikrotik" || node_type == "thirdparty_router";
}

}  // namespace

std::string normalize_lan_subnet(std::string_view subnet) {
    const std::string_view trimmed = unicode::trim_white_space(subnet);
    const auto pieces = split(trimmed, '/');
    if (pieces.size() == 2 && pieces[1] == "24") {
        const auto octets = split(pieces[0], '.');
        if (octets.size() == 4) {
            std::string network;
            for (int i = 0; i < 3; ++i) (network += octets[i]) += '.';
            return network + "0/24";
        }
    }
    return std::string(trimmed);
}

const std::string& far_side_subnet(const LinkInfo& link, std::int32_t node_id) {
    return link.source_id == node_id ? link.dst_subnet : link.src_subnet;
}

std::vector<std::string> compute_allowed_ips(const BootstrapResult& result, bool force_l3) {
    std::set<std::string> allowed{std::string(kHubSubnet), std::string(kProjectSubnet)};
    const std::string own_lan = routes_own_lan(result.node_type) ? normalize_lan_subnet(result.local_subnet)
                                                                 : "";

    // Subnets the bridge carries at layer 2 must not also be routed.
    std::set<std::string> carried_by_bridge;
    if (!force_l3) {
        for (const LinkInfo& link : result.links) {
            if (link.mode != "L2") continue;
            if (const auto& far = far_side_subnet(link, result.node_id); !far.empty())
                carried_by_bridge.insert(normalize_lan_subnet(far));
            if (link.tap_ip && !link.tap_ip->empty())
                carried_by_bridge.insert(normalize_lan_subnet(*link.tap_ip));
        }
    }

    for (const LinkInfo& link : result.links) {
        if (link.mode == "LAN" || (link.mode == "L2" && !force_l3)) continue;
        std::string candidate = normalize_lan_subnet(far_side_subnet(link, result.node_id));
        if (candidate.empty() || candidate == own_lan || carried_by_bridge.contains(candidate)) continue;
        allowed.insert(std::move(candidate));
    }
    // std::set orders by bytes, as the adapter's routes are listed.
    return {allowed.begin(), allowed.end()};
}

}  // namespace tarvo
