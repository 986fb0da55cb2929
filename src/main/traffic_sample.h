// Turning the engine's and the bridge's byte counters into totals, rates and
// the telemetry texts.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "main/tunnel_context.h"

namespace tarvo {

// The rate rule on its own: what a sample at `now` does to the previous one.
struct RateSample {
    double rx_per_second = 0;
    double tx_per_second = 0;
};
// Nothing when `since` is under half a second; counters that started again
// (smaller than before) give a rate of 0.
std::optional<RateSample> rate_between(std::uint64_t prev_rx, std::uint64_t prev_tx, std::uint64_t rx,
                                       std::uint64_t tx, std::chrono::steady_clock::duration since);

// Holds the lock for its whole run, the engine's counter read included.
void sample_traffic(const TunnelContext& context);

}  // namespace tarvo
