// Decisions the client takes from the orchestrator's answer, and the
// topology signature that tells whether a running tunnel must be reloaded.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "orchestrator/records.h"

namespace tarvo {

// A service pass: node type "pass", or a non-empty pass code.
bool is_pass(const BootstrapResult& result);

// A pass the orchestrator does not let in: no layer 3, or a pass status
// other than "ACTIVE" (an absent or empty status blocks nothing).
bool is_pass_blocked(const BootstrapResult& result);

// Enabled project, active owner, no blocked pass, and a link to carry: an
// "L3" or "L2" link, or a "LAN" link on a desktop node.
bool is_tunnel_allowed(const BootstrapResult& result);

bool is_pass_expired(const std::optional<std::string>& pass_status);

// Advances `next` past the next "L2" link and returns a copy of it; none
// once the list is exhausted. Links are taken in list order.
std::optional<LinkInfo> next_l2_link(std::vector<LinkInfo>::const_iterator& next,
                                     std::vector<LinkInfo>::const_iterator end);

// "l3=..;l2=..;own=..;ps=..;exp=..;" and the links sorted by id, each as
// "id:mode:src_subnet:dst_subnet:tap_ip:tunnel_id", joined with "|".
std::string topology_signature(const BootstrapResult& result);

std::optional<HubInfo> clone_hub_info(const std::optional<HubInfo>& hub);
std::vector<LinkInfo> clone_link_list(const std::vector<LinkInfo>& links);

}  // namespace tarvo
