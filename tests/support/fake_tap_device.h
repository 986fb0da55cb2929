// An in-process TAP device for the bridge's tests: frames the test "host"
// sends are read by the bridge, frames the bridge writes are kept for the
// test, the media state is recorded, and a cancel completes pending reads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/tap_device.h"

namespace tarvo::testing {

class FakeTapDevice final : public platform::TapDevice {
public:
    using Frame = std::vector<std::uint8_t>;
    static constexpr platform::TapError kCancelled = 995;  // ERROR_OPERATION_ABORTED
    static constexpr platform::TapError kWriteFault = 29;  // ERROR_WRITE_FAULT

    // The host sends `frame` into the adapter: the next read returns it.
    void host_sends(Frame frame) {
        {
            std::lock_guard lock(mutex_);
            to_read_.push_back(std::move(frame));
        }
        changed_.notify_all();
    }
    // What the host received from the adapter, in order.
    std::vector<Frame> host_received() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    // From now on every write fails at once and reaches nobody.
    void fail_writes() {
        std::lock_guard lock(mutex_);
        writes_fail_ = true;
    }
    std::vector<bool> media_status_calls() const {
        std::lock_guard lock(mutex_);
        return media_;
    }
    int cancel_all_calls() const {
        std::lock_guard lock(mutex_);
        return cancels_;
    }

    Status<platform::TapError> set_media_status(bool connected) override {
        std::lock_guard lock(mutex_);
        media_.push_back(connected);
        return Unit{};
    }
    void cancel_all_io() override {
        {
            std::lock_guard lock(mutex_);
            ++cancels_;
        }
        changed_.notify_all();
    }
    std::unique_ptr<platform::TapTransfer> new_transfer() override {
        return std::make_unique<Transfer>(*this);
    }

private:
    class Transfer final : public platform::TapTransfer {
    public:
        explicit Transfer(FakeTapDevice& device) : device_(device) {}

        Result start_read(std::span<std::uint8_t> buffer) override {
            std::unique_lock lock(device_.mutex_);
            buffer_ = buffer;
            cancels_seen_ = device_.cancels_;
            return take(lock);
        }
        Result start_write(std::span<const std::uint8_t> frame) override {
            std::lock_guard lock(device_.mutex_);
            if (device_.writes_fail_) return {State::failed, 0, kWriteFault};
            device_.written_.emplace_back(frame.begin(), frame.end());
            return {State::completed, static_cast<std::uint32_t>(frame.size()), 0};
        }
        Result wait(std::chrono::milliseconds slice) override {
            std::unique_lock lock(device_.mutex_);
            device_.changed_.wait_for(
                lock, slice, [&] { return !device_.to_read_.empty() || device_.cancels_ != cancels_seen_; });
            return take(lock);
        }
        Result cancel_and_wait() override { return {State::failed, 0, kCancelled}; }

    private:
        Result take(std::unique_lock<std::mutex>&) {
            if (device_.cancels_ != cancels_seen_) {
                return {State::failed, 0, kCancelled};
            }
            if (device_.to_read_.empty()) return {State::pending};
            const Frame frame = std::move(device_.to_read_.front());
            device_.to_read_.pop_front();
            const std::size_t n = std::min(frame.size(), buffer_.size());
            std::copy_n(frame.begin(), n, buffer_.begin());
            return {State::completed, static_cast<std::uint32_t>(n), 0};
        }

        FakeTapDevice& device_;
        std::span<std::uint8_t> buffer_;
        int cancels_seen_ = 0;
    };

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Frame> to_read_;
    std::vector<Frame> written_;
    std::vector<bool> media_;
    int cancels_ = 0;
    bool writes_fail_ = false;
};

}  // namespace tarvo::testing
