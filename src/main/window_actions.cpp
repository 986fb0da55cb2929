#include "main/window_actions.h"

#include <algorithm>
#include <thread>

#include "main/status_check.h"
#include "orchestrator/access_code.h"
#include "text/unicode_text.h"

namespace tarvo {

namespace {

bool has_mode(const std::vector<std::string>& modes, std::string_view mode) {
    return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

std::vector<std::string> stored_link_modes(const AppState& state) {
    std::vector<std::string> modes;
    if (state.last_result)
        for (const LinkInfo& link : state.last_result->links) modes.push_back(link.mode);
    return modes;
}

// What exists of the tunnel operations today: the status check, also as the
// worker's first act, and the exit teardown. Power-on and power-off are not
// built yet; their clicks store what the window stores and start nothing.
class ThreadOperations final : public ClientOperations {
public:
    ThreadOperations(std::shared_ptr<SharedState> shared, std::shared_ptr<platform::RepaintRequester> repaint)
        : shared_(std::move(shared)), repaint_(std::move(repaint)) {}

    void start_worker(bool /*auto_connect*/) override { start_status_check(); }
    void start_power_on() override {}
    void start_power_off() override {}

    void start_status_check() override {
        std::thread([shared = shared_] { check_orchestrator_status(*shared, production_orchestrator()); }).detach();
    }

    void tear_down_on_exit() override {
        auto state = shared_->lock();
        stop_l2_bridge(state->bridge, true);
        close_wg_engine(state->wg);
    }

private:
    std::shared_ptr<SharedState> shared_;
    std::shared_ptr<platform::RepaintRequester> repaint_;
};

}  // namespace

std::unique_ptr<ClientOperations> make_client_operations(std::shared_ptr<SharedState> shared,
                                                         std::shared_ptr<platform::RepaintRequester> repaint) {
    return std::make_unique<ThreadOperations>(std::move(shared), std::move(repaint));
}

StatusLook status_after_mode_toggle(bool now_forced_l3, const std::vector<std::string>& link_modes) {
    if (now_forced_l3) return {has_mode(link_modes, "LAN") ? "BRAMA L3 + LAN" : "WYMUSZONY L3", kAmber};
    if (has_mode(link_modes, "L2")) return {"WŁĄCZONY (L2+L3)", kGreen};
    if (has_mode(link_modes, "LAN")) return {"BRAMA L3 + LAN", kGreen};
    return {"WŁĄCZONY (L3)", kGreen};
}

bool toggle_force_l3(SharedState& shared) {
    auto state = shared.lock();
    const bool now_forced = !state->config.ForceL3;
    state->config.ForceL3 = now_forced;
    save_client_config(state->config);
    if (state->power_on) {
        StatusLook look = status_after_mode_toggle(now_forced, stored_link_modes(*state));
        state->status_label = std::move(look.label);
        state->accent_color = look.color;
    }
    if (now_forced)
        push_log_str(*state,
                     "Włączono ręczne wymuszenie trybu L3 (mostek L2/EoIP wyłączony, karta TAP w trybie IDLE).",
                     LogLevel::warning);
    else
        push_log_str(*state,
                     "Przywrócono automatyczny wybór trybu L2/L3 na podstawie konfiguracji projektu w Orkiestratorze.",
                     LogLevel::progress);
    return state->power_on;
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

void store_power_on_key(SharedState& shared, const std::string& cleaned) {
    auto state = shared.lock();
    state->config.DeviceCode = cleaned;
    state->config.AutoConnect = true;
    save_client_config(state->config);
}

void store_typed_key(SharedState& shared, std::string& key_input) {
    key_input = normalize_access_code(key_input);
    if (key_input.empty()) return;
    auto state = shared.lock();
    if (!is_valid_access_code(key_input))
        push_log(*state,
                 "Uwaga: nieprawidłowy format '" + key_input + "' (podaj 12-znakowy klucz lub kod PASS-48H-...).",
                 LogLevel::warning);
    else if (key_input.starts_with("PASS-"))
        push_log(*state, "Kod przepustki serwisowej zapisany: " + key_input, LogLevel::success);
    else
        push_log(*state, "Klucz urządzenia zapisany: " + key_input, LogLevel::success);
    state->config.DeviceCode = key_input;
    save_client_config(state->config);
    state->status_logged = false;
}

std::string stored_key(SharedState& shared) { return shared.lock()->config.DeviceCode; }

void clear_event_log(SharedState& shared) { shared.lock()->log.clear(); }

}  // namespace tarvo
