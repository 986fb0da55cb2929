// The L2 bridge as the shared state holds it. Always idle for now, so
// stopping has nothing to undo.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace tarvo {

struct L2Bridge {
    std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<std::uint64_t>> rx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::shared_ptr<std::atomic<std::uint64_t>> tx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
};

// Stops and joins the bridge threads; `reset` returns the TAP adapter to idle.
void stop_l2_bridge(L2Bridge& bridge, bool reset);

}  // namespace tarvo
