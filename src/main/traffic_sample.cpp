#include "main/traffic_sample.h"

#include <algorithm>

#include "main/traffic_text.h"
#include "orchestrator/predicates.h"

namespace tarvo {
namespace {

constexpr double kMinimumSampleSeconds = 0.5;

double per_second(std::uint64_t previous, std::uint64_t now, double seconds) {
    return static_cast<double>(now > previous ? now - previous : 0) / seconds;
}

}  // namespace

std::optional<RateSample> rate_between(std::uint64_t prev_rx, std::uint64_t prev_tx, std::uint64_t rx,
                                       std::uint64_t tx, std::chrono::steady_clock::duration since) {
    const double seconds = std::chrono::duration<double>(since).count();
    if (seconds < kMinimumSampleSeconds) return std::nullopt;
    return RateSample{per_second(prev_rx, rx, seconds), per_second(prev_tx, tx, seconds)};
}

void sample_traffic(const TunnelContext& context) {
    auto state = context.shared->lock();
    const auto& answer = state->last_result;
    if (!state->power_on || !answer || (!answer->allow_l3 && !is_tunnel_allowed(*answer))) {
        state->wg_running = false;
        state->l2_running = false;
        return;
    }
    state->l2_running = state->bridge.running->load();
    state->wg_running = state->wg.adapter != nullptr;
    if (!state->wg_running) return;
    const std::optional<PeerCounters> peer = context.mechanisms->read_peer_counters(state->wg);
    if (!peer) return;

    state->rx_total = std::max(peer->rx_bytes, state->bridge.rx_bytes->load());
    state->tx_total = std::max(peer->tx_bytes, state->bridge.tx_bytes->load());

    const auto now = context.clock->now();
    if (!state->last_sample_at) {
        state->prev_rx_total = state->rx_total;
        state->prev_tx_total = state->tx_total;
        state->last_sample_at = now;
        return;
    }
    const auto rates = rate_between(state->prev_rx_total, state->prev_tx_total, state->rx_total,
                                    state->tx_total, now - *state->last_sample_at);
    if (!rates) return;
    state->rx_rate_text = format_rate(rates->rx_per_second);
    state->rx_total_text = "Suma: " + format_bytes(state->rx_total);
    state->tx_rate_text = format_rate(rates->tx_per_second);
    state->tx_total_text = "Suma: " + format_bytes(state->tx_total);
    state->prev_rx_total = state->rx_total;
    state->prev_tx_total = state->tx_total;
    state->last_sample_at = now;
}

}  // namespace tarvo
