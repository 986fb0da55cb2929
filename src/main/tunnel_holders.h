// The WireGuard-NT engine and the L2 bridge as the shared state holds them.
// Neither is brought up yet: the engine holds only its adapter name and the
// bridge is always idle, so closing and stopping have nothing to undo.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace tarvo {

struct WgEngine {
    std::string adapter_name = "tarvo-client";
    void* adapter = nullptr;  // no adapter handle until a bring-up
};

struct L2Bridge {
    std::shared_ptr<std::atomic<bool>> running = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<std::uint64_t>> rx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
    std::shared_ptr<std::atomic<std::uint64_t>> tx_bytes = std::make_shared<std::atomic<std::uint64_t>>(0);
};

// Sets a held adapter down and closes it.
void close_wg_engine(WgEngine& engine);

// Stops and joins the bridge threads; `reset` returns the TAP adapter to idle.
void stop_l2_bridge(L2Bridge& bridge, bool reset);

}  // namespace tarvo
