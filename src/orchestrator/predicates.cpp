#include "orchestrator/predicates.h"

#include <algorithm>

namespace tarvo {

namespace {

bool has_link_mode(const BootstrapResult& result, std::string_view mode) {
    return std::any_of(result.links.begin(), result.links.end(),
                       [&](const LinkInfo& link) { return link.mode == mode; });
}

const char* flag_text(bool value) { return value ? "true" : "false"; }

}  // namespace

bool is_pass(const BootstrapResult& result) {
    return result.node_type == "pass" || (result.pass_code && !result.pass_code->empty());
}

bool is_pass_blocked(const BootstrapResult& result) {
    if (!is_pass(result)) return false;
    if (!result.allow_l3) return true;
    return result.pass_status && !result.pass_status->empty() && *result.pass_status != "ACTIVE";
}

bool is_tunnel_allowed(const BootstrapResult& result) {
    if (!result.project_enabled || !result.owner_active || is_pass_blocked(result)) return false;
    if (has_link_mode(result, "L3") || has_link_mode(result, "L2")) return true;
    return result.node_type == "desktop" && has_link_mode(result, "LAN");
}

bool is_pass_expired(const std::optional<std::string>& pass_status) {
    return pass_status && *pass_status == "EXPIRED";
}

std::optional<LinkInfo> next_l2_link(std::vector<LinkInfo>::const_iterator& next,
                                     std::vector<LinkInfo>::const_iterator end) {
    while (next != end) {
        const LinkInfo& link = *next++;
        if (link.mode == "L2") return link;
    }
    return std::nullopt;
}

std::string topology_signature(const BootstrapResult& result) {
    std::vector<LinkInfo> links = clone_link_list(result.links);
    std::stable_sort(links.begin(), links.end(),
                     [](const LinkInfo& a, const LinkInfo& b) { return a.id < b.id; });
    std::string out = std::string("l3=") + flag_text(result.allow_l3) + ";l2=" + flag_text(result.allow_l2) +
                      ";own=" + flag_text(result.owner_active) + ";ps=" + result.pass_status.value_or("") +
                      ";exp=" + result.pass_expires_at.value_or("") + ";";
    for (std::size_t i = 0; i < links.size(); ++i) {
        const LinkInfo& link = links[i];
        if (i > 0) out += '|';
        out += std::to_string(link.id) + ':' + link.mode + ':' + link.src_subnet + ':' + link.dst_subnet +
               ':' + link.tap_ip.value_or("") + ':' + std::to_string(link.tunnel_id);
    }
    return out;
}

std::optional<HubInfo> clone_hub_info(const std::optional<HubInfo>& hub) { return hub; }

std::vector<LinkInfo> clone_link_list(const std::vector<LinkInfo>& links) { return links; }

}  // namespace tarvo
