// What a granted answer asks of the tunnel, decided once per bring-up: whether
// layer 2 is bridged, whether the machine becomes a LAN gateway, and the
// status label that says so.
#pragma once

#include <string>
#include <string_view>

#include "orchestrator/predicates.h"
#include "orchestrator/records.h"

namespace tarvo {

// The probe target and hub address when the answer names none.
inline constexpr std::string_view kDefaultHubAddress = "10.200.0.1";

struct TunnelShape {
    bool service_pass = false;
    bool force_l3 = false;
    bool has_l2 = false;   // an "L2" link, and layer 3 not forced
    bool has_lan = false;  // a "LAN" link
    bool gateway = false;  // a "LAN" link, or a desktop node
};

TunnelShape tunnel_shape(const BootstrapResult& result, bool force_l3);

// "PRZEPUSTKA (L2+L3)", "WŁĄCZONY (L3)", "WYMUSZONY L3", ...
std::string_view tunnel_status_label(const TunnelShape& shape);

// The hub's tunnel address as received when it is a strict dotted quad, else
// the default, as for an empty one: the target goes to ping, which reads a
// leading '-' or '/' as an option, and stands for the hub's GRE address.
std::string probe_target(const std::string& hub_wg_ip);

}  // namespace tarvo
