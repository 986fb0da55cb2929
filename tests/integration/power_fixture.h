// What the power, worker and bring-up tests share: the test orchestrator over
// real TLS, the recorded tunnel mechanisms, a clock that never sleeps, and
// the answers they give.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "main/power.h"
#include "main/tunnel_context.h"
#include "main/window_actions.h"
#include "support/host_root.h"
#include "support/power_requests.h"
#include "support/recording_tunnel.h"
#include "support/waiting.h"
#include "test_orchestrator.h"

namespace tarvo {

using sim::Scenario;
using sim::TestOrchestrator;

inline constexpr const char* kKey = "ABCD1234EFGH";
inline constexpr const char* kPass = "PASS-48H-ABCD1234";

inline const char* kHub =
    R"("hub": {"endpoint": "192.0.2.1:51820", "server_public_key": "SGVsbG9IdWJLZXlIZWxsb0h1YktleUhlbGxvSHViS2U=", "hub_wg_ip": "10.200.0.1"})";

inline std::string device_answer(const std::string& links, bool enabled = true,
                                 const std::string& extra = "") {
    return std::string(R"({"node_id": 17, "name": "Laptop-7", "node_type": "laptop", "wg_ip": "10.200.0.17",
        "local_subnet": "192.168.7.0/24", "private_key": "cHJpdmF0ZUtleXByaXZhdGVLZXlwcml2YXRlS2V5cHI=",
        "project_enabled": )") +
           (enabled ? "true" : "false") + R"(, "owner_active": true, "allow_orchestrator": true, )" + extra +
           kHub + R"(, "links": [)" + links + "]}";
}

inline const std::string kL3Link =
    R"({"id": 5, "source_id": 17, "target_id": 2, "mode": "L3", "src_subnet": "192.168.7.0/24", "dst_subnet": "10.50.0.0/24"})";
inline const std::string kL2Link =
    R"({"id": 6, "source_id": 17, "target_id": 2, "mode": "L2", "src_subnet": "192.168.7.0/24", "dst_subnet": "10.9.9.0/24", "tunnel_id": 300})";

class PowerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("APPDATA");
        auto started = TestOrchestrator::start(Scenario{{200, "{}"}});
        ASSERT_TRUE(started) << started.error();
        orchestrator = std::move(*started);
        context.endpoint = orchestrator->endpoint();
        context.mechanisms = &tunnel;
        context.clock = &clock;
        context.request_repaint = [this] { ++repaints; };
        ClientConfig config;
        config.DeviceCode = kKey;
        context.shared = std::make_shared<SharedState>(config);
        tunnel.shared = context.shared.get();
    }
    void TearDown() override {
        orchestrator->on_request(nullptr);
        join_clicks();
    }

    void answer_sync(const std::string& code, const std::string& body, int status = 200) {
        Scenario scenario;
        scenario.status = {200, "{}"};
        scenario.sync[code] = {status, body};
        orchestrator->set_scenario(scenario);
    }

    std::vector<std::string> sync_targets() const {
        std::vector<std::string> targets;
        for (const auto& request : orchestrator->requests())
            if (request.target.find("/api/control/sync") != std::string::npos)
                targets.push_back(request.target);
        return targets;
    }

    static std::string query(const char* code, int power, int force, int wg, int l2, std::uint64_t rx = 0,
                             std::uint64_t tx = 0) {
        return std::string("/tarvo/api/control/sync?code=") + code + "&power_on=" + std::to_string(power) +
               "&force_l3=" + std::to_string(force) + "&wg_running=" + std::to_string(wg) +
               "&l2_running=" + std::to_string(l2) + "&rx_bytes=" + std::to_string(rx) +
               "&tx_bytes=" + std::to_string(tx);
    }

    std::vector<std::string> log_texts() {
        std::vector<std::string> texts;
        auto state = context.shared->lock();
        for (const auto& entry : state->log) texts.push_back(entry.text);
        return texts;
    }

    // A power-on or power-off clicked as the window clicks it: asked for at
    // once on the calling thread (the power-on storing `typed` as the key,
    // with AutoConnect), then run on a thread of its own, joined by
    // join_clicks. False when refused.
    bool click_power_on(std::string typed = kKey) {
        return start_click(tarvo::click_power_on(*context.shared, typed), power_on_thread_body);
    }
    bool click_power_off() { return start_click(tarvo::click_power_off(*context.shared), power_off); }
    void join_clicks() {
        std::vector<std::thread> started;
        {
            std::lock_guard<std::mutex> hold(clicks_mutex_);
            started.swap(clicks_);
        }
        for (std::thread& thread : started) thread.join();
    }

    // `act` runs once, on the orchestrator's thread, when the next request has
    // arrived and before it is answered: a click made while it is in flight.
    void at_next_request(std::function<void()> act) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        orchestrator->on_request([done, act = std::move(act)](const sim::RecordedRequest&) {
            if (!done->exchange(true)) act();
        });
    }

    // A detached thread holds its own reference to the shared state until it ends.
    void wait_for_detached_threads() {
        const auto ended = testing::wait_until(
            "the detached threads' references to the shared state gone",
            [&] { return context.shared.use_count(); }, [](long references) { return references == 1; });
        ASSERT_TRUE(ended) << ended.report;
    }

    testing::ScopedHostRoot host_root;
    std::unique_ptr<TestOrchestrator> orchestrator;
    testing::RecordingTunnel tunnel;
    testing::ManualClock clock;
    std::atomic<int> repaints{0};
    TunnelContext context;

private:
    template <class Asked, class Body>
    bool start_click(std::optional<Asked> asked, Body body) {
        if (!asked) return false;
        std::lock_guard<std::mutex> hold(clicks_mutex_);
        clicks_.emplace_back(body, context, std::move(*asked));
        return true;
    }

    std::mutex clicks_mutex_;
    std::vector<std::thread> clicks_;
};

}  // namespace tarvo
