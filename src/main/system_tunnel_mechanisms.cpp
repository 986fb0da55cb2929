#include "main/tunnel_context.h"

#include <thread>

namespace tarvo {
namespace {

class SystemTunnelMechanisms final : public TunnelMechanisms {
public:
    std::optional<std::string> start_engine(WgEngine&, const EngineStart&) override {
        return std::string("sterownik WireGuard-NT niedostępny w tej wersji programu");
    }
    void close_engine(WgEngine& engine) override { close_wg_engine(engine); }
    std::optional<PeerCounters> read_peer_counters(WgEngine&) override { return std::nullopt; }

    void stop_bridge(L2Bridge& bridge, bool reset) override { stop_l2_bridge(bridge, reset); }
    void start_bridge(SharedState& shared, const BootstrapResult&, const LinkInfo&, const std::string&) override {
        auto state = shared.lock();
        state->l2_running = false;
    }

    CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) override {
        return tarvo::run_hidden(program, args);
    }
};

class SystemTunnelClock final : public TunnelClock {
public:
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::steady_clock::duration duration) override { std::this_thread::sleep_for(duration); }
};

}  // namespace

TunnelClock& system_tunnel_clock() {
    static SystemTunnelClock clock;
    return clock;
}

TunnelMechanisms& system_tunnel_mechanisms() {
    static SystemTunnelMechanisms mechanisms;
    return mechanisms;
}

}  // namespace tarvo
