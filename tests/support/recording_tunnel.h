// A recording stand-in for the tunnel mechanisms and a clock that never
// sleeps, so power-on, power-off and worker cycles run in-process.
#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "main/tunnel_context.h"

namespace tarvo::testing {

class RecordingTunnel final : public TunnelMechanisms {
public:
    std::optional<std::string> start_engine(WgEngine& engine, const EngineStart& start) override {
        std::string call = "start_engine";
        for (const auto& ip : start.allowed_ips) call += " " + ip;
        record(call);
        if (engine_error) return engine_error;
        engine.adapter = reinterpret_cast<WgAdapterHandle>(this);  // any non-null handle
        last_start = start;
        return std::nullopt;
    }
    void close_engine(WgEngine& engine) override {
        record(engine.adapter ? "close_engine held" : "close_engine");
        engine.adapter = nullptr;
    }
    std::optional<PeerCounters> read_peer_counters(WgEngine& engine) override {
        if (!engine.adapter) return std::nullopt;
        std::lock_guard<std::mutex> hold(mutex_);
        return counters;
    }
    void stop_bridge(L2Bridge& bridge, bool reset) override {
        record(reset ? "stop_bridge reset" : "stop_bridge");
        bridge.running->store(false);
    }
    void start_bridge(SharedState& shared, const BootstrapResult&, const LinkInfo& link,
                      const std::string& hub_address) override {
        record("start_bridge " + std::to_string(link.id) + " " + hub_address);
        auto state = shared.lock();
        state->bridge.running->store(true);
        state->l2_running = true;
    }
    CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) override {
        std::string call(program);
        for (const auto& arg : args) call += " " + arg;
        if (shared && !lock_is_free()) call += " (under the lock)";
        record(call);
        if (program != "ping") return {0, ""};
        if (on_probe) on_probe();
        return ping_output;
    }

    std::vector<std::string> calls() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return calls_;
    }
    void clear() {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.clear();
    }
    void set_counters(PeerCounters value) {
        std::lock_guard<std::mutex> hold(mutex_);
        counters = value;
    }

    std::optional<std::string> engine_error;
    CommandOutput ping_output{0, "Reply from 10.200.0.1: bytes=32 time<1ms TTL=64"};
    std::optional<EngineStart> last_start;
    // When set, a system tool run while this record's lock is held is recorded
    // with " (under the lock)" after it: the gateway script and the probe run
    // without it, so the window never waits for them.
    SharedState* shared = nullptr;
    // Called on the caller's thread at each probe before it is answered: a
    // test's gate that pauses the operation holding the turn.
    std::function<void()> on_probe;

private:
    // Whether another thread takes the lock within 5 s. One still waiting is
    // kept until the lock is free again.
    bool lock_is_free() {
        auto attempt = std::async(std::launch::async, [state = shared] { (void)state->lock(); });
        if (attempt.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
        std::lock_guard<std::mutex> hold(mutex_);
        waiting_for_lock_.push_back(std::move(attempt));
        return false;
    }

    void record(std::string call) {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.push_back(std::move(call));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    PeerCounters counters;
    std::vector<std::future<void>> waiting_for_lock_;
};

class ManualClock final : public TunnelClock {
public:
    std::chrono::steady_clock::time_point now() override { return now_; }
    void sleep_for(std::chrono::steady_clock::duration duration) override { now_ += duration; }
    void advance(std::chrono::steady_clock::duration duration) { now_ += duration; }

private:
    std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
};

}  // namespace tarvo::testing
