#include "main/status_check.h"

#include <string>

#include "orchestrator/access_code.h"
#include "orchestrator/predicates.h"

namespace tarvo {

namespace {

constexpr std::string_view kNoHttps = "Brak łączności HTTPS";

void set_card(StatusCard& card, bool online, bool standby, std::string text) {
    card.online = online;
    card.standby = standby;
    card.text = std::move(text);
}

std::string reason_or_ok(const BootstrapResult& answer) { return answer.reason.value_or("OK"); }

std::string first_success_line(const BootstrapResult& answer, const OrchestratorEndpoint& endpoint) {
    const std::string id = std::to_string(answer.node_id);
    if (is_pass(answer)) {
        return "Rozpoznano przepustkę serwisową '" + answer.name + "' (ID #" + id +
               ", ważna do: " + format_pass_expiry(answer.pass_expires_at) +
               " UTC, stan: " + reason_or_ok(answer) + ").";
    }
    return "Połączono z Orkiestratorem " + endpoint.base_url + " (Węzeł '" + answer.name + "' ID #" + id +
           ", Stan: " + reason_or_ok(answer) + ").";
}

void publish_answer(SharedState& shared, const BootstrapResult& answer,
                    const OrchestratorEndpoint& endpoint) {
    auto state = shared.lock();
    const bool blocked = is_pass_blocked(answer);
    set_card(state->orchestrator_card, true, blocked, answered_card_text(answer));
    if (!state->status_logged) {
        state->status_logged = true;
        const LogLevel level = is_pass(answer) && blocked ? LogLevel::warning : LogLevel::success;
        push_log(*state, first_success_line(answer, endpoint), level);
    }
}

void publish_sync_error(SharedState& shared, const std::string& error, bool reachable) {
    auto state = shared.lock();
    if (!reachable) {
        set_card(state->orchestrator_card, false, false, std::string(kNoHttps));
        return;
    }
    set_card(state->orchestrator_card, true, true, "Nieznany kod / PASS");
    if (!state->status_logged) {
        state->status_logged = true;
        push_log(*state, "Orkiestrator osiągalny, ale: " + error, LogLevel::warning);
    }
}

}  // namespace

std::string answered_card_text(const BootstrapResult& answer) {
    return std::string(is_pass(answer) ? "PASS OK" : "HTTPS OK") + " (ID #" + std::to_string(answer.node_id) +
           ")";
}

void check_orchestrator_status(SharedState& shared, const OrchestratorEndpoint& endpoint) {
    std::string code;
    bool force_l3 = false;
    {
        auto state = shared.lock();
        code = state->config.DeviceCode;
        force_l3 = state->config.ForceL3;
    }

    if (!is_valid_access_code(code)) {
        // No code to ask about: only whether the orchestrator answers at all.
        const bool reachable = is_orchestrator_reachable(endpoint);
        auto state = shared.lock();
        if (reachable) set_card(state->orchestrator_card, true, false, "HTTPS " + endpoint.host + " OK");
        else set_card(state->orchestrator_card, false, false, std::string(kNoHttps));
        return;
    }

    SyncReport report;
    report.force_l3 = force_l3;
    auto answer = sync_with_orchestrator(endpoint, code, report);
    if (answer) {
        publish_answer(shared, *answer, endpoint);
        return;
    }
    const bool reachable = is_orchestrator_reachable(endpoint);
    publish_sync_error(shared, answer.error(), reachable);
}

}  // namespace tarvo
