// Tells a test when the test orchestrator has received a request whose target
// starts with a given prefix, and can hold the server's answers until the test
// lets them go: the test knows a request is in flight without guessing a time.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "support/waiting.h"
#include "test_orchestrator.h"

namespace tarvo::testing {

class RequestGate {
public:
    enum class Answers { flow, held };

    RequestGate(sim::TestOrchestrator& server, std::string target_prefix, Answers answers)
        : server_(server), cells_(std::make_shared<Cells>()) {
        cells_->open = answers == Answers::flow;
        // The server's thread keeps the cells alive if it is still inside.
        server_.on_request(
            [cells = cells_, prefix = std::move(target_prefix)](const sim::RecordedRequest& r) {
                std::unique_lock lock(cells->mutex);
                if (r.target.starts_with(prefix)) cells->arrived = true;
                cells->changed.notify_all();
                cells->changed.wait(lock, [&] { return cells->open; });
            });
    }
    RequestGate(const RequestGate&) = delete;
    RequestGate& operator=(const RequestGate&) = delete;
    ~RequestGate() {
        open();
        server_.on_request(nullptr);
    }

    // Waits until a matching request has arrived.
    Waited<bool> arrival(const std::string& awaited) {
        return wait_until(awaited, [&] {
            std::lock_guard lock(cells_->mutex);
            return cells_->arrived;
        });
    }

    // Lets held answers (and all later ones) go.
    void open() {
        std::lock_guard lock(cells_->mutex);
        cells_->open = true;
        cells_->changed.notify_all();
    }

private:
    struct Cells {
        std::mutex mutex;
        std::condition_variable changed;
        bool arrived = false;
        bool open = false;
    };
    sim::TestOrchestrator& server_;
    std::shared_ptr<Cells> cells_;
};

}  // namespace tarvo::testing
