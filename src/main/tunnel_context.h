// What power-on, power-off, the worker's reload or stop and the exit teardown
// work with: the shared state, the orchestrator, the window's repaint request
// and the tunnel mechanisms (the engine, the bridge and the system tools).
// The program drives the real mechanisms; tests put recording doubles in their
// place.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/hidden_command.h"
#include "main/app_state.h"
#include "orchestrator/orchestrator_client.h"
#include "orchestrator/records.h"

namespace tarvo {

// The inputs of one engine start, in the order the engine takes them.
struct EngineStart {
    std::vector<std::string> allowed_ips;
    std::string private_key;
    std::string wg_ip;
    std::string server_public_key;
    std::string endpoint;
};

// The first peer's byte counters as the engine reports them.
struct PeerCounters {
    std::uint64_t tx_bytes = 0;
    std::uint64_t rx_bytes = 0;
};

class TunnelMechanisms {
public:
    virtual ~TunnelMechanisms() = default;

    // Brings the adapter up; the ready error text when it could not.
    virtual std::optional<std::string> start_engine(WgEngine& engine, const EngineStart& start) = 0;
    virtual void close_engine(WgEngine& engine) = 0;
    // Nothing when the adapter is not held or its configuration cannot be read.
    virtual std::optional<PeerCounters> read_peer_counters(WgEngine& engine) = 0;

    // `reset` returns the TAP adapter to idle on a thread of its own.
    virtual void stop_bridge(L2Bridge& bridge, bool reset) = 0;
    // Called without the lock; takes it itself and publishes its own outcome.
    virtual void start_bridge(SharedState& shared, const BootstrapResult& result, const LinkInfo& link,
                              const std::string& hub_address) = 0;

    virtual CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) = 0;
};

// The engine, the bridge and the system tools of this machine.
TunnelMechanisms& system_tunnel_mechanisms();

// The monotonic clock of traffic samples and the worker's sleep between
// cycles; tests run cycles without waiting.
class TunnelClock {
public:
    virtual ~TunnelClock() = default;
    virtual std::chrono::steady_clock::time_point now() = 0;
    virtual void sleep_for(std::chrono::steady_clock::duration duration) = 0;
};

TunnelClock& system_tunnel_clock();

struct TunnelContext {
    std::shared_ptr<SharedState> shared;
    OrchestratorEndpoint endpoint;
    std::function<void()> request_repaint = [] {};
    TunnelMechanisms* mechanisms = &system_tunnel_mechanisms();
    TunnelClock* clock = &system_tunnel_clock();

    void repaint() const { request_repaint(); }
};

}  // namespace tarvo
