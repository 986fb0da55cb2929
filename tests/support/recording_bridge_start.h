// The system a bridge start works on, recorded: child processes, the driver,
// the device (a FakeTapDevice) and the GRE socket (the in-process network),
// with failures to order. Closing the device or the socket is recorded with
// how many holders of the running flag remain, so a test sees whether any
// bridge thread could still use what was closed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/fake_tap_device.h"
#include "support/in_process_gre.h"
#include "tap_l2/l2_bridge.h"

namespace tarvo::testing {

inline constexpr std::string_view kTapGuid = "{12345678-9ABC-DEF0-1234-56789ABCDEF0}";

class RecordingBridgeStart final : public BridgeStartSystem {
public:
    // Whose running flag the close records count (the bridge under test).
    explicit RecordingBridgeStart(const L2Bridge& bridge) : bridge_(bridge) {}

    std::vector<std::string> calls;
    std::optional<std::string> driver_failure;
    std::optional<platform::TapError> open_failure;
    std::optional<platform::TapError> media_failure;
    bool socket_failure = false;
    bool receive_timeout_failure = false;  // setting the socket's receive time-out fails
    int bind_failures = 0;
    std::string mac_report = "00-FF-5A-1B-2C-3D\r\n";
    InProcessGreNetwork network;
    std::vector<std::unique_ptr<FakeTapDevice>> devices;  // one per open

    void wait_until_no_reset_runs() override { calls.push_back("wait for reset"); }
    CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) override {
        std::string call(program);
        for (const auto& arg : args) call += " " + arg;
        calls.push_back(call);
        if (call.ends_with(".MacAddress")) return {0, mac_report};
        return {0, ""};
    }
    Expected<std::string, std::string> ensure_tap_driver() override {
        calls.push_back("ensure driver");
        if (driver_failure) return unexpected(*driver_failure);
        return std::string(kTapGuid);
    }
    Expected<std::unique_ptr<platform::TapDevice>, platform::TapError> open_tap_device(
        std::string_view guid) override {
        calls.push_back("open tap " + std::string(guid));
        if (open_failure) return unexpected(*open_failure);
        devices.push_back(std::make_unique<FakeTapDevice>());
        return std::unique_ptr<platform::TapDevice>(std::make_unique<Device>(*this, *devices.back()));
    }
    void start_socket_library() override { calls.push_back("socket library"); }
    Expected<std::unique_ptr<platform::GreSocket>, platform::OsError> open_gre_socket() override {
        calls.push_back("open socket");
        if (socket_failure) return unexpected(platform::OsError{13, "denied"});
        return std::unique_ptr<platform::GreSocket>(std::make_unique<Socket>(*this, network.open()));
    }
    void pause_after_failed_bind() override { calls.push_back("pause"); }

private:
    std::string closed(std::string_view what) const {
        return std::string(what) + " (flag holders " + std::to_string(bridge_.running.use_count()) + ")";
    }

    class Device final : public platform::TapDevice {
    public:
        Device(RecordingBridgeStart& owner, FakeTapDevice& inner) : owner_(owner), inner_(inner) {}
        ~Device() override { owner_.calls.push_back(owner_.closed("close tap")); }
        Status<platform::TapError> set_media_status(bool connected) override {
            owner_.calls.push_back(connected ? "media connected" : "media disconnected");
            if (connected && owner_.media_failure) return unexpected(*owner_.media_failure);
            return inner_.set_media_status(connected);
        }
        void cancel_all_io() override {
            owner_.calls.push_back("cancel io");
            inner_.cancel_all_io();
        }
        std::unique_ptr<platform::TapTransfer> new_transfer() override { return inner_.new_transfer(); }

    private:
        RecordingBridgeStart& owner_;
        FakeTapDevice& inner_;
    };

    class Socket final : public platform::GreSocket {
    public:
        Socket(RecordingBridgeStart& owner, std::unique_ptr<platform::GreSocket> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        ~Socket() override { owner_.calls.push_back(owner_.closed("close socket")); }
        Status<platform::OsError> set_receive_timeout(std::chrono::milliseconds timeout) override {
            owner_.calls.push_back("receive timeout " + std::to_string(timeout.count()));
            if (owner_.receive_timeout_failure) return unexpected(platform::OsError{22, "invalid"});
            return inner_->set_receive_timeout(timeout);
        }
        Status<platform::OsError> bind(const Ipv4Address& local) override {
            owner_.calls.push_back("bind " + to_dotted(local));
            if (owner_.bind_failures > 0) {
                --owner_.bind_failures;
                return unexpected(platform::OsError{98, "in use"});
            }
            return inner_->bind(local);
        }
        Status<platform::SocketFailure> send_to(std::span<const std::uint8_t> payload,
                                                const Ipv4Address& destination) override {
            return inner_->send_to(payload, destination);
        }
        Expected<platform::ReceivedPacket, platform::SocketFailure> receive_from(
            std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) override {
            return inner_->receive_from(buffer, wait);
        }

    private:
        RecordingBridgeStart& owner_;
        std::unique_ptr<platform::GreSocket> inner_;
    };

    const L2Bridge& bridge_;
};

}  // namespace tarvo::testing
