#include "main/bring_up.h"

#include "main/status_check.h"
#include "orchestrator/access_code.h"
#include "orchestrator/predicates.h"
#include "wg_engine/allowed_ips.h"
#include "wg_engine/tunnel_shape.h"

namespace tarvo {
namespace {

std::string joined(const std::vector<std::string>& texts, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (i) out += separator;
        out += texts[i];
    }
    return out;
}

void publish_authorisation(AppState& state, const BootstrapResult& result, const HubInfo& hub,
                           const TunnelShape& shape) {
    state.orchestrator_card.online = true;
    state.orchestrator_card.standby = false;
    state.orchestrator_card.text = answered_card_text(result);
    state.headline = result.name + "  •  WG: " + result.wg_ip;
    const std::string expiry = format_pass_expiry(result.pass_expires_at);
    if (shape.service_pass) {
        state.detail = "Przepustka ważna do: " + expiry + " UTC   |   Hub: " + hub.hub_wg_ip;
    } else {
        state.detail = "Podsieć lokalna: " + result.local_subnet + "   |   Hub: " + hub.hub_wg_ip;
    }
    state.status_label = std::string(tunnel_status_label(shape));
    state.accent_color = shape.force_l3 ? kAmber : kGreen;
    if (shape.service_pass) {
        push_log(state,
                 "Autoryzowano przepustkę serwisową '" + result.name + "' (WG IP: " + result.wg_ip +
                     ", ważna do: " + expiry + " UTC)",
                 LogLevel::success);
    } else {
        push_log(state,
                 "Autoryzowano węzeł '" + result.name + "' (WG IP: " + result.wg_ip +
                     ", LAN: " + result.local_subnet + ")",
                 LogLevel::success);
    }
}

void publish_engine_outcome(AppState& state, const BootstrapResult& result,
                            const std::optional<std::string>& error) {
    if (error) {
        state.wg_running = false;
        state.tunnel_card.online = false;
        state.tunnel_card.standby = true;
        state.tunnel_card.text = "Błąd WG-NT";
        push_log(state, "Błąd uruchomienia WireGuard-NT: " + *error, LogLevel::error);
        return;
    }
    state.wg_running = true;
    state.tunnel_card.online = true;
    state.tunnel_card.standby = false;
    state.tunnel_card.text = "WG " + result.wg_ip;
    push_log(state,
             "Adapter WireGuard-NT ('tarvo-client', " + result.wg_ip + ") uruchomiony w jądrze Windows.",
             LogLevel::success);
}

// Layer 3 only: the bridge stops and the TAP adapter goes idle.
void settle_on_layer3(AppState& state, TunnelMechanisms& mechanisms, const BootstrapResult& result,
                      const TunnelShape& shape, bool any_l2_link) {
    mechanisms.stop_bridge(state.bridge, true);
    state.l2_running = false;
    state.bridge_card.online = false;
    state.bridge_card.standby = false;
    if (shape.force_l3 && any_l2_link) {
        push_log_str(
            state,
            "Wymuszony tryb L3 aktywny — adapter TAP przełączony w stan IDLE (neutralny dla routingu).",
            LogLevel::warning);
        state.bridge_card.text = "Wymuszony L3 (TAP Idle)";
    } else if (!shape.has_lan) {
        push_log_str(state, "Tryb routingu L3 aktywny (karta TAP obecna w stanie IDLE).", LogLevel::neutral);
        state.bridge_card.text = "TAP Idle (Tylko L3)";
    } else {
        push_log(
            state,
            "Aktywna Brama L3 + NAT dla sieci lokalnej " + result.local_subnet + " (mostek L2 wyłączony).",
            LogLevel::success);
        state.bridge_card.text = "Tylko L3 (" + result.local_subnet + ")";
    }
}

}  // namespace

bool probe_answered(const CommandOutput& ping) {
    return ping.code == 0 &&
           (ping.text.find("TTL=") != std::string::npos || ping.text.find("ttl=") != std::string::npos);
}

void bring_up_tunnel(const TunnelContext& context, const BootstrapResult& result, const HubInfo& hub) {
    SharedState& shared = *context.shared;
    TunnelMechanisms& mechanisms = *context.mechanisms;

    TunnelShape shape;
    {
        auto state = shared.lock();
        shape = tunnel_shape(result, state->config.ForceL3);
        publish_authorisation(*state, result, hub, shape);
    }

    const std::vector<std::string> allowed_ips = compute_allowed_ips(result, shape.force_l3);

    std::optional<std::string> engine_error;
    {
        auto state = shared.lock();
        push_log(*state,
                 "Konfiguracja natywnego adaptera jądra WireGuard-NT (AllowedIPs: " +
                     joined(allowed_ips, ", ") + ")...",
                 LogLevel::neutral);
        engine_error = mechanisms.start_engine(
            state->wg,
            EngineStart{allowed_ips, result.private_key, result.wg_ip, hub.server_public_key, hub.endpoint});
    }
    {
        auto state = shared.lock();
        publish_engine_outcome(*state, result, engine_error);
    }
    // A failed start leaves an earlier bridge running: nothing more happens.
    if (engine_error) return;

    if (shape.gateway) {
        (void)mechanisms.run_hidden("powershell", {"-NoProfile", "-Command", std::string(kGatewayScript)});
        auto state = shared.lock();
        push_log(*state,
                 "Brama L3 aktywna: IPv4 Forwarding oraz WinNAT (SNAT 10.200.0.0/24 -> " +
                     result.local_subnet + ") gotowe.",
                 LogLevel::success);
    }

    const std::string target = probe_target(hub.hub_wg_ip);
    if (probe_answered(mechanisms.run_hidden("ping", {"-n", "2", "-w", "900", target}))) {
        auto state = shared.lock();
        push_log(*state,
                 "Handshake WireGuard potwierdzony (Ping " + target + " OK) — zielona lampka aktywna!",
                 LogLevel::success);
    }

    auto next = result.links.cbegin();
    const std::optional<LinkInfo> first_l2 = next_l2_link(next, result.links.cend());
    if (!first_l2 || shape.force_l3) {
        auto state = shared.lock();
        settle_on_layer3(*state, mechanisms, result, shape, first_l2.has_value());
        return;
    }
    mechanisms.start_bridge(shared, result, *first_l2, target);
}

}  // namespace tarvo
