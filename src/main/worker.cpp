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
    if (answer->project_enabled == copy.last_project_enabled && signature == copy.last_signature) return;
    const bool accepted = answer->allow_l3 || is_tunnel_allowed(*answer);
    {
        auto state = context.shared->lock();
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
    // A power-on or power-off in progress has the tunnel: this cycle leaves it.
    const auto turn = context.shared->try_tunnel_turn();
    CycleCopy copy;
    {
        auto state = context.shared->lock();
        copy = copy_for_cycle(*state);
    }
    if (turn.owns_lock() && !copy.in_progress) {
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
    if (auto_connect) run_power_on(context);
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
