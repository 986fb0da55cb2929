#include "wg_engine/tunnel_shape.h"

#include <algorithm>

#include "util/ipv4_address.h"

namespace tarvo {

TunnelShape tunnel_shape(const BootstrapResult& result, bool force_l3) {
    const auto has_mode = [&](std::string_view mode) {
        return std::any_of(result.links.begin(), result.links.end(),
                           [&](const LinkInfo& link) { return link.mode == mode; });
    };
    TunnelShape shape;
    shape.service_pass = is_pass(result);
    shape.force_l3 = force_l3;
    shape.has_l2 = !force_l3 && has_mode("L2");
    shape.has_lan = has_mode("LAN");
    shape.gateway = shape.has_lan || result.node_type == "desktop";
    return shape;
}

std::string_view tunnel_status_label(const TunnelShape& shape) {
    if (shape.service_pass) return shape.has_l2 ? "PRZEPUSTKA (L2+L3)" : "PRZEPUSTKA (L3)";
    if (shape.has_l2) return "WŁĄCZONY (L2+L3)";
    if (shape.has_lan) return "BRAMA L3 + LAN";
    if (shape.force_l3) return "WYMUSZONY L3";
    return "WŁĄCZONY (L3)";
}

std::string probe_target(const std::string& hub_wg_ip) {
    return parse_dotted_ipv4(hub_wg_ip) ? hub_wg_ip : std::string(kDefaultHubAddress);
}

}  // namespace tarvo
