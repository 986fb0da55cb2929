#include "main/app_state.h"

#include <algorithm>
#include <ctime>
#include <mutex>

#include "orchestrator/access_code.h"
#include "orchestrator/endpoint.h"
#include "platform/log_mirror.h"

namespace tarvo {

namespace {

// std::localtime shares one buffer per process; the mutex keeps our calls apart.
std::string local_time_text() {
    static std::mutex clock_mutex;
    const std::time_t now = std::time(nullptr);
    char text[16] = {};
    std::lock_guard<std::mutex> hold(clock_mutex);
    if (const std::tm* local = std::localtime(&now)) std::strftime(text, sizeof text, "%H:%M:%S", local);
    return text;
}

}  // namespace

Color log_level_color(LogLevel level) {
    switch (level) {
        case LogLevel::plain: return kLightGrey;
        case LogLevel::neutral: return kMutedGrey;
        case LogLevel::progress: return kCyan;
        case LogLevel::success: return kGreen;
        case LogLevel::warning: return kAmber;
        case LogLevel::error: return kRed;
    }
    return kLightGrey;
}

std::string_view status_badge(const StatusCard& card) {
    if (card.online) return "ONLINE";
    if (card.standby) return "STANDBY";
    return "OFFLINE";
}

StatusCard clone_status_card(const StatusCard& card) {
    return StatusCard{card.title, card.text, card.online, card.standby};
}

AppState::AppState(ClientConfig initial_config)
    : config(std::move(initial_config)),
      orchestrator_card{"Orkiestrator " + std::string(orchestrator_host()), "Sprawdzanie...", false, false} {}

AppState::~AppState() {
    close_wg_engine(wg);
    // The exit teardown has already returned an idle adapter to idle; a
    // second reset here would be cut off by the process's end.
    const bool bridge_active = !bridge.threads.empty() || bridge.tap != nullptr;
    stop_l2_bridge(bridge, bridge_active);
}

std::string log_line_text(const LogEntry& entry) {
    static constexpr std::string_view names[] = {"plain",   "neutral", "progress",
                                                 "success", "warning", "error"};
    const auto index = static_cast<std::size_t>(entry.level);
    const std::string_view name = index < std::size(names) ? names[index] : "?";
    return entry.time + " [" + std::string(name) + "] " + entry.text;
}

void push_log(AppState& state, std::string message, LogLevel level) {
    state.log.push_back(LogEntry{local_time_text(), std::move(message), level});
    if (platform::log_mirror_enabled()) platform::mirror_log_line(log_line_text(state.log.back()));
    if (state.log.size() > kLogLimit)
        state.log.erase(state.log.begin(), state.log.begin() + static_cast<std::ptrdiff_t>(kLogTrimBlock));
}

void push_log_str(AppState& state, std::string_view message, LogLevel level) {
    push_log(state, std::string(message), level);
}

TunnelTurn::Ticket TunnelTurn::take() {
    std::lock_guard<std::mutex> hold(mutex_);
    return Ticket(*this, issued_++);
}

std::optional<TunnelTurn::Ticket> TunnelTurn::take_if_issued(std::uint64_t count) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (issued_ != count) return std::nullopt;
    return Ticket(*this, issued_++);
}

std::uint64_t TunnelTurn::issued() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return issued_;
}

TunnelTurn::Hold TunnelTurn::wait(Ticket ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    served_.wait(lock, [&] { return serving_ == ticket.number_; });
    ticket.turn_ = nullptr;  // served, so not dropped
    return Hold(*this);
}

void TunnelTurn::drop(std::uint64_t number) {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (number != serving_) {
            dropped_.push_back(number);
            return;
        }
        ++serving_;
        skip_dropped();
    }
    served_.notify_all();
}

void TunnelTurn::pass_on() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++serving_;
        skip_dropped();
    }
    served_.notify_all();
}

void TunnelTurn::skip_dropped() {
    for (auto at = std::find(dropped_.begin(), dropped_.end(), serving_); at != dropped_.end();
         at = std::find(dropped_.begin(), dropped_.end(), serving_)) {
        dropped_.erase(at);
        ++serving_;
    }
}

std::shared_ptr<SharedState> create_shared_state(ClientConfig config) {
    if (!config.DeviceCode.empty()) config.DeviceCode = normalize_access_code(config.DeviceCode);
    auto shared = std::make_shared<SharedState>(std::move(config));
    {
        auto state = shared->lock();
        push_log_str(*state, "Sprawdzanie łączności ze stacją Orkiestratora SD-WAN...", LogLevel::neutral);
    }
    return shared;
}

}  // namespace tarvo
