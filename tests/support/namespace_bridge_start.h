// The system a bridge start works on inside a network namespace made by the
// caller: the real TAP device (found through the stand-in registry) and GRE
// socket, opened in that namespace; the adapter's GUID as given. No Windows
// tool runs, so the caller addresses the TAP itself.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/network_namespaces.h"
#include "tap_l2/l2_bridge.h"

namespace tarvo::testing {

class NamespaceBridgeStart final : public BridgeStartSystem {
public:
    NamespaceBridgeStart(std::string netns, std::string guid)
        : netns_(std::move(netns)), guid_(std::move(guid)) {}

    void wait_until_no_reset_runs() override {}
    CommandOutput run_hidden(std::string_view, const std::vector<std::string>&) override { return {0, ""}; }
    Expected<std::string, std::string> ensure_tap_driver() override { return guid_; }
    Expected<std::unique_ptr<platform::TapDevice>, platform::TapError> open_tap_device(
        std::string_view guid) override {
        Expected<std::unique_ptr<platform::TapDevice>, platform::TapError> device = unexpected(
            platform::TapError{2});
        run_in_namespace(netns_, [&] { device = platform::open_tap_device(guid); });
        return device;
    }
    void start_socket_library() override {}
    Expected<std::unique_ptr<platform::GreSocket>, platform::OsError> open_gre_socket() override {
        Expected<std::unique_ptr<platform::GreSocket>, platform::OsError> socket = unexpected(
            platform::OsError{1, "namespace not entered"});
        run_in_namespace(netns_, [&] { socket = platform::open_gre_socket(); });
        return socket;
    }
    void pause_after_failed_bind() override { std::this_thread::sleep_for(std::chrono::milliseconds(250)); }

private:
    std::string netns_;
    std::string guid_;
};

}  // namespace tarvo::testing
