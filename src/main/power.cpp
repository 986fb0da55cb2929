#include "main/power.h"

#include <thread>

#include "main/bring_up.h"
#include "main/client_config.h"
#include "main/status_check.h"
#include "main/traffic_sample.h"
#include "main/worker.h"
#include "orchestrator/access_code.h"
#include "orchestrator/predicates.h"

namespace tarvo {
namespace {

void set_card(StatusCard& card, bool online, bool standby, std::string text) {
    card.online = online;
    card.standby = standby;
    card.text = std::move(text);
}

struct PowerOnCopy {
    std::string code;
    SyncReport report;  // power flag on, with the flags and totals at the start
};

PowerOnCopy begin_power_on(const TunnelContext& context) {
    auto state = context.shared->lock();
    state->power_on = false;
    state->connecting = true;
    set_card(state->tunnel_card, false, false, "Start usługi...");
    set_card(state->bridge_card, false, false, "Oczekiwanie");
    push_log(*state, "Włączanie tunelu i autoryzacja w " + context.endpoint.base_url + "...",
             LogLevel::progress);
    PowerOnCopy copy;
    copy.code = state->config.DeviceCode;
    copy.report.power_on = true;
    copy.report.force_l3 = state->config.ForceL3;
    copy.report.wg_running = state->wg_running;
    copy.report.l2_running = state->l2_running;
    copy.report.rx_bytes = state->rx_total;
    copy.report.tx_bytes = state->tx_total;
    return copy;
}

// Ends a power-on that sent nothing or got no usable answer.
void end_early(const TunnelContext& context, std::string log_line, std::string card_text,
               std::optional<bool> card_standby) {
    auto state = context.shared->lock();
    push_log(*state, std::move(log_line), LogLevel::error);
    state->orchestrator_card.online = false;
    if (card_standby) state->orchestrator_card.standby = *card_standby;
    state->orchestrator_card.text = std::move(card_text);
    state->connecting = false;
    context.repaint();
}

void store_answer(AppState& state, const BootstrapResult& answer, std::string signature) {
    state.last_topology_signature = std::move(signature);
    state.last_project_enabled = answer.project_enabled;
    state.last_result = answer;
}

// The answer grants no tunnel: a refused service pass, or waiting for a link.
void park(const TunnelContext& context, const PowerOnCopy& copy, const BootstrapResult& answer,
          std::string signature) {
    const bool refused = is_pass_blocked(answer);
    {
        auto state = context.shared->lock();
        state->power_on = !refused;
        state->connecting = false;
        state->last_topology_signature = signature;
        state->last_project_enabled = answer.project_enabled;
        context.mechanisms->stop_bridge(state->bridge, true);
        context.mechanisms->close_engine(state->wg);
        state->wg_running = false;
        state->l2_running = false;
        set_card(state->orchestrator_card, true, refused,
                 "HTTPS OK (ID #" + std::to_string(answer.node_id) + ")");
        state->tunnel_card.online = false;
        state->tunnel_card.standby = refused;
        state->bridge_card.online = false;
        state->bridge_card.text = "TAP w trybie IDLE";
        state->rx_rate_text = "0 B/s";
        state->tx_rate_text = "0 B/s";
        const std::string id = std::to_string(answer.node_id);
        if (refused) {
            const std::string reason = answer.reason.value_or(
                "Przepustka serwisowa wygasła lub została wyłączona");
            state->tunnel_card.text = "Przepustka wyłączona";
            state->headline = answer.name + "  •  " + reason;
            state->detail = "Kod " + answer.pass_code.value_or(copy.code) +
                            " nie ma aktywnego dostępu — poproś administratora o aktywację lub nowy kod";
            state->status_label = is_pass_expired(answer.pass_status) ? "PASS WYGASŁA" : "PASS WYŁĄCZONA";
            state->accent_color = kRed;
            push_log(*state, "Odmowa zestawienia tunelu dla '" + answer.name + "': " + reason + ".",
                     LogLevel::error);
        } else {
            state->tunnel_card.text = answer.project_enabled ? "Brak linku w projekcie"
                                                             : "Projekt wstrzymany";
            state->headline = answer.name + "  •  Oczekiwanie na link w projekcie";
            state->detail = "Połączono z Orkiestratorem (ID #" + id + ") — dodaj linię L3/L2 w panelu SD-WAN";
            state->status_label = "OCZEKIWANIE";
            state->accent_color = kCyan;
            push_log(
                *state,
                "Połączono z Orkiestratorem ('" + answer.name + "', ID #" + id +
                    "). Brak przypisanego linku L3/L2 w projekcie — tunel VPN i karta TAP pozostają w trybie "
                    "oczekiwania (IDLE).",
                LogLevel::progress);
        }
        state->last_result = answer;
    }
    SyncReport off;
    off.force_l3 = copy.report.force_l3;
    (void)sync_with_orchestrator(context.endpoint, copy.code, off);
    context.repaint();
}

void bring_up_and_report(const TunnelContext& context, const PowerOnCopy& copy, const BootstrapResult& answer,
                         std::string signature) {
    bring_up_tunnel(context, answer, *answer.hub);
    {
        auto state = context.shared->lock();
        state->power_on = true;
        state->connecting = false;
        store_answer(*state, answer, std::move(signature));
    }
    sample_traffic(context);
    SyncReport report;
    report.power_on = true;
    report.force_l3 = copy.report.force_l3;
    {
        auto state = context.shared->lock();
        report.wg_running = state->wg_running;
        report.l2_running = state->l2_running;
        report.rx_bytes = state->rx_total;
        report.tx_bytes = state->tx_total;
    }
    (void)sync_with_orchestrator(context.endpoint, copy.code, report);
    context.repaint();
}

}  // namespace

std::optional<TunnelTurn::Ticket> ask_for_power_on(SharedState& shared, AppState& locked) {
    if (locked.connecting) return std::nullopt;
    locked.connecting = true;
    return shared.tunnel_turn().take();
}

std::optional<PowerOffRequest> ask_for_power_off(SharedState& shared, AppState& locked) {
    if (locked.disconnecting) return std::nullopt;
    locked.config.AutoConnect = false;
    save_client_config(locked.config);
    locked.disconnecting = true;
    return PowerOffRequest{shared.tunnel_turn().take(), locked.config.DeviceCode, locked.config.ForceL3};
}

void run_power_on(const TunnelContext& context, TunnelTurn::Ticket ticket) {
    const auto turn = context.shared->tunnel_turn().wait(std::move(ticket));
    const PowerOnCopy copy = begin_power_on(context);
    context.repaint();

    if (!is_valid_access_code(copy.code)) {
        end_early(context, "Błąd: wpisz 12-znakowy klucz urządzenia lub kod przepustki PASS-48H-...",
                  "Podaj klucz / PASS", true);
        return;
    }
    auto answer = sync_with_orchestrator(context.endpoint, copy.code, copy.report);
    if (!answer) {
        end_early(context, "BŁĄD WŁĄCZANIA: " + answer.error(), "Odrzucono kod", true);
        return;
    }
    if (!answer->hub || answer->hub->server_public_key.empty()) {
        end_early(context, "Błąd: odpowiedź serwera nie zawiera konfiguracji huba.", "Błąd danych",
                  std::nullopt);
        return;
    }
    std::string signature = topology_signature(*answer);
    if (answer->allow_l3 || is_tunnel_allowed(*answer)) {
        bring_up_and_report(context, copy, *answer, std::move(signature));
    } else {
        park(context, copy, *answer, std::move(signature));
    }
}

void power_on_thread_body(TunnelContext context, TunnelTurn::Ticket ticket) {
    run_power_on(context, std::move(ticket));
}

void power_off(TunnelContext context, PowerOffRequest request) {
    const auto turn = context.shared->tunnel_turn().wait(std::move(request.ticket));
    SyncReport off;
    off.force_l3 = request.force_l3;
    {
        auto state = context.shared->lock();
        state->power_on = false;
        push_log_str(*state,
                     "Wyłączanie tunelu SD-WAN, przełączanie TAP w tryb IDLE i powiadamianie serwera...",
                     LogLevel::warning);
        context.mechanisms->stop_bridge(state->bridge, true);
        context.mechanisms->close_engine(state->wg);
        state->wg_running = false;
        state->l2_running = false;
    }
    context.repaint();

    (void)sync_with_orchestrator(context.endpoint, request.code, off);
    check_orchestrator_status(*context.shared, context.endpoint);

    {
        auto state = context.shared->lock();
        set_card(state->tunnel_card, false, false, "Zatrzymany");
        set_card(state->bridge_card, false, false, "TAP Idle");
        state->headline = state->last_result ? state->last_result->name + " (Tunel wyłączony)"
                                             : "Tunel wyłączony";
        state->status_label = "WYŁĄCZONY";
        state->accent_color = kSlate;
        state->rx_rate_text = "0 B/s";
        state->tx_rate_text = "0 B/s";
        state->disconnecting = false;
        push_log_str(*state,
                     "Tunel SD-WAN został wyłączony (Orkiestrator widoczny, adapter TAP w trybie IDLE).",
                     LogLevel::neutral);
    }
    context.repaint();
}

void save_key(const TunnelContext& context, std::string& key_input, bool& editing_key) {
    key_input = normalize_access_code(key_input);
    editing_key = false;
    if (!key_input.empty()) {
        auto state = context.shared->lock();
        if (!is_valid_access_code(key_input)) {
            push_log(*state,
                     "Uwaga: nieprawidłowy format '" + key_input +
                         "' (podaj 12-znakowy klucz lub kod PASS-48H-...).",
                     LogLevel::warning);
        } else if (key_input.starts_with("PASS-")) {
            push_log(*state, "Kod przepustki serwisowej zapisany: " + key_input, LogLevel::success);
        } else {
            push_log(*state, "Klucz urządzenia zapisany: " + key_input, LogLevel::success);
        }
        state->config.DeviceCode = key_input;
        save_client_config(state->config);
        state->status_logged = false;
    }
    std::thread(status_check_thread_body, context).detach();
}

void exit_teardown(const TunnelContext& context) {
    auto state = context.shared->lock();
    context.mechanisms->stop_bridge(state->bridge, true);
    context.mechanisms->close_engine(state->wg);
}

}  // namespace tarvo
