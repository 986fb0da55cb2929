// What both power storms share: the window's three requests as its update
// makes them (through the same calls), the threads they start (joined here,
// where the window would detach them), the actors that click at random, and
// the check made when a power-off has completed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "main/power.h"
#include "main/window_actions.h"

namespace tarvo::testing {

// The storm's seed: TARVO_STORM_SEED when set (a replay), else a fresh one.
inline std::uint64_t storm_seed() {
    if (const char* text = std::getenv("TARVO_STORM_SEED")) return std::strtoull(text, nullptr, 10);
    return std::random_device{}();
}

// Set on the threads that run a power-off. Its last repaint comes after its
// last locked stretch while it still holds the tunnel turn, so nothing can
// have started since: the moment to check what it left.
inline thread_local bool on_power_off_thread = false;

// Whether `state` is the last repaint's view of a power-off (not the first
// stretch's, which has `disconnecting` still set).
inline bool power_off_completed(const AppState& state) { return on_power_off_thread && !state.disconnecting; }

// What a completed power-off must not leave behind, in words; empty when clean.
inline std::vector<std::string> power_off_leftovers(const AppState& state) {
    std::vector<std::string> found;
    if (state.power_on) found.push_back("power on after a power-off");
    if (state.wg.adapter) found.push_back("adapter held after a power-off");
    if (state.bridge.running->load()) found.push_back("bridge running after a power-off");
    if (state.wg_running || state.l2_running) found.push_back("running flags set after a power-off");
    return found;
}

class PowerStorm {
public:
    explicit PowerStorm(TunnelContext context) : context_(std::move(context)) {}
    ~PowerStorm() { join_all(); }

    // The window's power-on click with the stored key: none while one is in progress.
    void click_power_on() {
        std::string key = context_.shared->lock()->config.DeviceCode;
        start_power_on(tarvo::click_power_on(*context_.shared, key));
    }
    // The power-off click: none while one is in progress.
    void click_power_off() {
        std::optional<PowerOffRequest> request = tarvo::click_power_off(*context_.shared);
        if (!request) return;
        start([context = context_, request = std::move(*request)]() mutable {
            on_power_off_thread = true;
            power_off(context, std::move(request));
        });
    }
    // The mode toggle: the setting changes and is saved; a power-on follows when the power is on.
    void toggle_mode() { start_power_on(toggle_force_l3(*context_.shared)); }

    // `actors` threads, each making up to `actions` random choices with `act`
    // (clicks are held back while `max_queued` operations are under way), all
    // stopping at `deadline`; then a last power-off, and every thread joined.
    void run(std::uint64_t seed, int actors, int actions, int max_queued,
             std::chrono::steady_clock::time_point deadline,
             const std::function<void(std::mt19937_64&)>& act) {
        std::vector<std::thread> running;
        for (int actor = 0; actor < actors; ++actor) {
            running.emplace_back([&, actor] {
                std::mt19937_64 rng(seed + static_cast<std::uint64_t>(actor));
                for (int i = 0; i < actions && std::chrono::steady_clock::now() < deadline; ++i) {
                    while (outstanding_ >= max_queued && std::chrono::steady_clock::now() < deadline)
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    act(rng);
                }
            });
        }
        for (auto& actor : running) actor.join();
        join_all();
        click_power_off();
        join_all();
    }

private:
    void start_power_on(std::optional<TunnelTurn::Ticket> ticket) {
        if (!ticket) return;
        start([context = context_, ticket = std::move(*ticket)]() mutable {
            power_on_thread_body(context, std::move(ticket));
        });
    }
    template <class Body>
    void start(Body body) {
        std::lock_guard<std::mutex> hold(mutex_);
        ++outstanding_;
        threads_.emplace_back([this, body = std::move(body)]() mutable {
            body();
            --outstanding_;
        });
    }
    void join_all() {
        for (std::size_t joined = 0;;) {
            std::thread next;
            {
                std::lock_guard<std::mutex> hold(mutex_);
                if (joined == threads_.size()) return;
                next = std::move(threads_[joined++]);
            }
            if (next.joinable()) next.join();
        }
    }

    TunnelContext context_;
    std::atomic<int> outstanding_{0};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

}  // namespace tarvo::testing
