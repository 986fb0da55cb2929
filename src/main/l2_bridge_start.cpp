#include "main/l2_bridge_start.h"

#include <utility>

#include "tap_l2/bridge_addresses.h"

namespace tarvo {

void start_l2_bridge(SharedState& shared, const BootstrapResult& result, const LinkInfo& link,
                     const std::string& probe_target, BridgeStartSystem& system) {
    const BridgeStartInputs inputs{derive_tunnel_id(link, result), hub_address_text(link, probe_target),
                                   tap_address_text(link, result), result.wg_ip};
    Expected<std::string, std::string> outcome = std::string();
    {
        auto state = shared.lock();
        push_log(*state,
                 "Aktywacja natywnego mostka L2 (EoIP C++): Link #" + std::to_string(link.id) +
                     ", Tunnel ID " + std::to_string(inputs.tunnel_id) + ", TAP IP " + inputs.tap_address +
                     " -> Hub " + inputs.hub_address,
                 LogLevel::progress);
        outcome = launch_l2_bridge(state->bridge, inputs, system);
    }
    auto state = shared.lock();
    if (outcome) {
        state->l2_running = true;
        state->bridge_card.online = true;
        state->bridge_card.standby = false;
        state->bridge_card.text = "EoIP " + inputs.tap_address;
        push_log(*state,
                 "Natywny mostek L2 EoIP aktywny na karcie TAP " + *outcome + " (Media Status: Connected).",
                 LogLevel::success);
    } else {
        state->l2_running = false;
        state->bridge_card.online = false;
        state->bridge_card.standby = true;
        state->bridge_card.text = "Błąd TAP L2";
        push_log(*state, "Błąd uruchomienia mostka L2: " + outcome.error(), LogLevel::error);
    }
}

}  // namespace tarvo
