// A repaint requester that forwards to the window while it is open and does
// nothing once the window has closed; the window closes it before tearing
// itself down, so no thread reaches a destroyed window.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "platform/window.h"

namespace tarvo::platform {

class ClosableRepaint final : public RepaintRequester {
public:
    explicit ClosableRepaint(std::function<void()> wake) : wake_(std::move(wake)) {}

    void request_repaint() override {
        std::lock_guard<std::mutex> hold(mutex_);
        if (wake_) wake_();
    }

    void close() {
        std::lock_guard<std::mutex> hold(mutex_);
        wake_ = nullptr;
    }

private:
    std::mutex mutex_;
    std::function<void()> wake_;
};

}  // namespace tarvo::platform
