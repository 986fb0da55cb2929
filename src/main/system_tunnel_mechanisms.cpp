#include "main/tunnel_context.h"

#include "main/l2_bridge_start.h"

#include <thread>

namespace tarvo {
namespace {

class SystemTunnelMechanisms final : public TunnelMechanisms {
public:
    std::optional<std::string> start_engine(WgEngine& engine, const EngineStart& start) override {
        const auto started = start_wg_engine(engine, {start.allowed_ips, start.private_key, start.wg_ip,
                                                      start.server_public_key, start.endpoint});
        if (!started) return started.error();
        return std::nullopt;
    }
    void close_engine(WgEngine& engine) override { close_wg_engine(engine); }
    std::optional<PeerCounters> read_peer_counters(WgEngine& engine) override {
        const auto traffic = read_wg_peer_traffic(engine);
        if (!traffic) return std::nullopt;
        return PeerCounters{traffic->transmitted, traffic->received};
    }

    void stop_bridge(L2Bridge& bridge, bool reset) override { stop_l2_bridge(bridge, reset); }
    void start_bridge(SharedState& shared, const BootstrapResult& result, const LinkInfo& link,
                      const std::string& hub_address) override {
        start_l2_bridge(shared, result, link, hub_address);
    }

    CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) override {
        return tarvo::run_hidden(program, args);
    }
};

class SystemTunnelClock final : public TunnelClock {
public:
    std::chrono::steady_clock::time_point now() override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::steady_clock::duration duration) override {
        std::this_thread::sleep_for(duration);
    }
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
