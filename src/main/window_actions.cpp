#include "main/window_actions.h"

#include <thread>

#include "main/power.h"
#include "main/worker.h"
#include "text/unicode_text.h"
#include "wg_engine/tunnel_shape.h"

namespace tarvo {

namespace {

class ThreadOperations final : public ClientOperations {
public:
    explicit ThreadOperations(TunnelContext context) : context_(std::move(context)) {}

    void start_worker(bool auto_connect) override {
        std::thread(worker_loop, context_, auto_connect).detach();
    }
    void start_power_on(TunnelTurn::Ticket ticket) override {
        std::thread(power_on_thread_body, context_, std::move(ticket)).detach();
    }
    void start_power_off(PowerOffRequest request) override {
        std::thread(power_off, context_, std::move(request)).detach();
    }
    void save_key(std::string& key_input, bool& editing_key) override {
        tarvo::save_key(context_, key_input, editing_key);
    }
    void tear_down_on_exit() override { exit_teardown(context_); }

private:
    TunnelContext context_;
};

}  // namespace

std::unique_ptr<ClientOperations> make_client_operations(
    std::shared_ptr<SharedState> shared, std::shared_ptr<platform::RepaintRequester> repaint) {
    TunnelContext context;
    context.shared = std::move(shared);
    context.endpoint = production_orchestrator();
    context.request_repaint = [repaint = std::move(repaint)] { repaint->request_repaint(); };
    return std::make_unique<ThreadOperations>(std::move(context));
}

StatusLook status_after_mode_toggle(bool now_forced_l3, const std::optional<BootstrapResult>& stored) {
    TunnelShape shape = tunnel_shape(stored.value_or(BootstrapResult{}), now_forced_l3);
    shape.service_pass = false;  // a pass gets a device key's label here
    return {std::string(tunnel_status_label(shape)), now_forced_l3 ? kAmber : kGreen};
}

std::optional<TunnelTurn::Ticket> toggle_force_l3(SharedState& shared) {
    auto state = shared.lock();
    const bool now_forced = !state->config.ForceL3;
    state->config.ForceL3 = now_forced;
    save_client_config(state->config);
    const bool power_on = state->power_on && !state->connecting && !state->disconnecting;
    if (power_on) {
        StatusLook look = status_after_mode_toggle(now_forced, state->last_result);
        state->status_label = std::move(look.label);
        state->accent_color = look.color;
    }
    if (now_forced)
        push_log_str(
            *state,
            "Włączono ręczne wymuszenie trybu L3 (mostek L2/EoIP wyłączony, karta TAP w trybie IDLE).",
            LogLevel::warning);
    else
        push_log_str(
            *state,
            "Przywrócono automatyczny wybór trybu L2/L3 na podstawie konfiguracji projektu w Orkiestratorze.",
            LogLevel::progress);
    if (!power_on) return std::nullopt;
    return ask_for_power_on(shared, *state);
}

std::string clean_clicked_key(std::string_view typed) {
    const std::string_view trimmed = unicode::trim_white_space(typed);
    std::string cleaned;
    for (std::size_t at = 0; at < trimmed.size();) {
        const std::string_view rest = trimmed.substr(at);
        const unicode::Character c = unicode::next_character(rest);
        const std::string_view bytes = rest.substr(0, c.length);
        at += c.length;
        if (c.valid && (c.code_point == U'-' || c.code_point == U' ')) continue;
        unicode::append_upper(cleaned, bytes, c);
    }
    return cleaned;
}

std::optional<TunnelTurn::Ticket> click_power_on(SharedState& shared, std::string& key_input) {
    auto state = shared.lock();
    if (state->connecting) return std::nullopt;
    key_input = clean_clicked_key(key_input);
    state->config.DeviceCode = key_input;
    state->config.AutoConnect = true;
    save_client_config(state->config);
    return ask_for_power_on(shared, *state);
}

std::optional<PowerOffRequest> click_power_off(SharedState& shared) {
    auto state = shared.lock();
    return ask_for_power_off(shared, *state);
}

std::string stored_key(SharedState& shared) { return shared.lock()->config.DeviceCode; }

void clear_event_log(SharedState& shared) { shared.lock()->log.clear(); }

}  // namespace tarvo
