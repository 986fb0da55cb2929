#include "main/worker.h"

#include "main/bring_up.h"
#include "main/power.h"
#include "main/status_check.h"
#include "main/traffic_sample.h"
#include "orchestrator/access_code.h"
#include "orchestrator/predicates.h"

namespace tarvo {
namespace {

struct CycleCopy {
    bool power_on = false;
    bool in_progress = false;
    std::string code;
    SyncReport report;
    std::string last_signature;
    bool last_project_enabled = true;
    std::uint64_t asked = 0;  // tunnel operations asked for by the time of the copy
};

CycleCopy copy_for_cycle(AppState& state) {
    CycleCopy copy;
    copy.power_on = state.power_on;
    copy.in_progress = state.connecting || state.disconnecting;
    copy.code = state.config.DeviceCode;
    copy.report.power_on = true;
    copy.report.force_l3 = state.config.ForceL3;
    copy.report.wg_running = state.wg_running;
    copy.report.l2_running = state.l2_running;
    copy.report.rx_bytes = state.rx_total;
    copy.report.tx_bytes = state.tx_total;
    copy.last_signature = state.last_topology_signature;
    copy.last_project_enabled = state.last_project_enabled;
    return copy;
}

// The answer withdrew the tunnel: stop it and say why; the power stays on.
void stop_tunnel(AppState& state, TunnelMechanisms& mechanisms, const BootstrapResult& answer,
                 const std::string& stored_code) {
    const bool refused = is_pass_blocked(answer);
    push_log(state,
             "Kanał kontrolny :5000 — brak zgody na tunel (" +
                 answer.reason.value_or("Brak linku w projekcie") +
                 "). Zatrzymuję WG i przełączam TAP w stan IDLE.",
             refused ? LogLevel::error : LogLevel::warning);
    mechanisms.stop_bridge(state.bridge, true);
    mechanisms.close_engine(state.wg);
    state.wg_running = false;
    state.l2_running = false;
    state.tunnel_card.online = false;
    state.tunnel_card.standby = refused;
    state.bridge_card.online = false;
    state.bridge_card.standby = false;
    state.bridge_card.text = "TAP w trybie IDLE";
    state.rx_rate_text = "0 B/s";
    state.tx_rate_text = "0 B/s";
    if (refused) {
        state.tunnel_card.text = "Przepustka wyłączona";
        state.headline = answer.name + "  •  " + answer.reason.value_or("Przepustka wygasła / wyłączona");
        state.detail = "Kod " + answer.pass_code.value_or(stored_code) +
                       " utracił ważność lub został wyłączony w panelu SD-WAN";
        state.status_label = is_pass_expired(answer.pass_status) ? "PASS WYGASŁA" : "PASS WYŁĄCZONA";
        state.accent_color = kRed;
    } else {
        state.tunnel_card.text = answer.project_enabled ? "Brak linku w projekcie" : "Projekt wstrzymany";
        state.headline = answer.name + "  •  Oczekiwanie na link w projekcie";
        state.detail = "Kanał kontrolny :5000 aktywny (ID #" + std::to_string(answer.node_id) +
                       ") — dodaj linię L3/L2 w panelu SD-WAN";
        state.status_label = "OCZEKIWANIE";
        state.accent_color = kCyan;
    }
}

bool changed(const BootstrapResult& answer, const std::string& signature, bool last_project_enabled,
             const std::string& last_signature) {
    return answer.project_enabled != last_project_enabled || signature != last_signature;
}

void poll(const TunnelContext& context, const CycleCopy& copy) {
    auto answer = sync_with_orchestrator(context.endpoint, copy.code, copy.report);
    if (!answer) {
        auto state = context.shared->lock();
        state->orchestrator_card.online = false;
        state->orchestrator_card.standby = false;
        state->orchestrator_card.text = "Brak łączności HTTPS";
        return;
    }
    {
        auto state = context.shared->lock();
        state->orchestrator_card.online = true;
        state->orchestrator_card.standby = is_pass_blocked(*answer);
        state->orchestrator_card.text = answered_card_text(*answer);
    }

    std::string signature = topology_signature(*answer);
    if (!changed(*answer, signature, copy.last_project_enabled, copy.last_signature)) return;

    // The reload or stop is a tunnel operation and waits for its turn. An
    // operation asked for since the copy may have acted on a newer answer
    // than this one: the change is left to the next cycle's poll.
    TunnelTurn& turns = context.shared->tunnel_turn();
    auto ticket = turns.take_if_issued(copy.asked);
    if (!ticket) return;
    const auto turn = turns.wait(std::move(*ticket));
    const bool accepted = answer->allow_l3 || is_tunnel_allowed(*answer);
    {
        auto state = context.shared->lock();
        // Read again now that the turn is held: a power-off, or a power-on or
        // power-off asked for while this one waited, wins.
        if (!state->power_on || state->connecting || state->disconnecting ||
            !changed(*answer, signature, state->last_project_enabled, state->last_topology_signature))
            return;
        state->last_topology_signature = std::move(signature);
        state->last_project_enabled = answer->project_enabled;
        state->last_result = *answer;
        if (accepted && answer->hub) {
            push_log_str(*state,
                         "Kanał kontrolny :5000 — wykryto zmianę topologii projektu w Orkiestratorze! "
                         "Przeładowuję tunel...",
                         LogLevel::progress);
        } else if (!accepted) {
            stop_tunnel(*state, *context.mechanisms, *answer, copy.code);
        }
    }
    if (accepted && answer->hub) bring_up_tunnel(context, *answer, *answer->hub);
    context.repaint();
}

}  // namespace

void run_worker_cycle(const TunnelContext& context) {
    sample_traffic(context);
    CycleCopy copy;
    {
        auto state = context.shared->lock();
        copy = copy_for_cycle(*state);
        copy.asked = context.shared->tunnel_turn().issued();
    }
    // The status check and the poll's request are no tunnel operations: they
    // take no turn. A power-on or power-off in progress has the tunnel.
    if (!copy.in_progress) {
        if (!copy.power_on) {
            check_orchestrator_status(*context.shared, context.endpoint);
        } else if (is_valid_access_code(copy.code)) {
            poll(context, copy);
        }
    }
    context.repaint();
}

void run_worker_start(const TunnelContext& context, bool auto_connect) {
    check_orchestrator_status(*context.shared, context.endpoint);
    context.repaint();
    if (!auto_connect) return;
    // The start's own power-on gives way to a power-on or power-off the user
    // asked for during the status check.
    std::optional<TunnelTurn::Ticket> ticket;
    {
        auto state = context.shared->lock();
        if (context.shared->tunnel_turn().issued() == 0) ticket = ask_for_power_on(*context.shared, *state);
    }
    if (ticket) run_power_on(context, std::move(*ticket));
}

void worker_loop(TunnelContext context, bool auto_connect) {
    run_worker_start(context, auto_connect);
    for (;;) {
        context.clock->sleep_for(kWorkerPeriod);
        run_worker_cycle(context);
    }
}

void status_check_thread_body(TunnelContext context) {
    check_orchestrator_status(*context.shared, context.endpoint);
}

}  // namespace tarvo
