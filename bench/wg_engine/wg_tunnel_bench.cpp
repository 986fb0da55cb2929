// Wall time of a tunnel bring-up and teardown in the namespace set-up of the
// tunnel test: start_wg_engine from its call to the first handshake (the
// iteration time), and close_wg_engine until the interface is gone (the
// counter close_ms). Each iteration builds fresh namespaces, untimed.
#include <benchmark/benchmark.h>

#include <string>

#include "support/wg_tunnel_lab.h"

namespace {

double micros_after(const std::optional<std::string>& line, const std::string& word) {
    if (!line || line->rfind(word + " ", 0) != 0) return -1;
    return std::stod(line->substr(word.size() + 1));
}

void BM_WgTunnelStartToHandshakeAndClose(benchmark::State& state) {
    if (const auto why = tarvo::testing::WgTunnelLab::unavailable()) {
        state.SkipWithError(why->c_str());
        return;
    }
    double started_us = 0;
    double close_us = 0;
    for (auto _ : state) {
        tarvo::testing::WgTunnelLab lab(TARVO_WINTOOLS_STANDIN);
        if (!lab.ready() || !lab.start_client(TARVO_WG_ENGINE_CHILD)) {
            state.SkipWithError(lab.error().c_str());
            return;
        }
        const double started = micros_after(lab.client().read_line(), "started");
        const double handshake = micros_after(lab.client().read_line(), "handshake");
        lab.client().send_line("close");
        const double closed = micros_after(lab.client().read_line(), "closed");
        if (started < 0 || handshake < 0 || closed < 0) {
            state.SkipWithError("the engine did not start, shake hands or close");
            return;
        }
        state.SetIterationTime(handshake * 1e-6);
        started_us += started;
        close_us += closed;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["start_returned_ms"] = started_us / n / 1000;
    state.counters["close_ms"] = close_us / n / 1000;
}
BENCHMARK(BM_WgTunnelStartToHandshakeAndClose)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
