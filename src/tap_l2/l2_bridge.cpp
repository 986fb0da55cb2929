#include "tap_l2/l2_bridge.h"

#include <chrono>
#include <thread>
#include <utility>

#include "drivers/tap_adapter.h"
#include "drivers/tap_driver.h"
#include "tap_l2/bridge_addresses.h"
#include "tap_l2/bridge_threads.h"
#include "text/powershell_quotes.h"
#include "util/ipv4_address.h"

namespace tarvo {

namespace {

constexpr int kBindAttempts = 10;

constexpr std::string_view kFirewallRuleScript =
    "if (-not (Get-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -ErrorAction SilentlyContinue)) { "
    "New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null }";

void run_powershell(BridgeStartSystem& system, std::string script) {
    (void)system.run_hidden("powershell", {"-NoProfile", "-Command", std::move(script)});
}

std::string adapter_filter(const std::string& guid) {
    return "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '" +
           text::double_powershell_quotes(guid) +
           "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";
}

// Both commands get the address: netsh as an argument of its own, the
// fallback script (which names the adapter by the system's own name) inside
// its text. netsh reads "name=value" words as parameters and "-x" as a
// switch, and the script's text is code, so an address that is not a plain
// dotted quad is handled as an empty one: no command runs.
void address_tap_adapter(BridgeStartSystem& system, const std::string& guid, const std::string& tap_address) {
    const TapAddress address = tap_address_and_mask(tap_address);
    if (!parse_dotted_ipv4(address.address) || !parse_dotted_ipv4(address.mask)) return;
    (void)system.run_hidden("netsh", {"interface", "ipv4", "set", "address", "name=" + guid, "static",
                                      address.address, address.mask});
    run_powershell(system, "$a = " + adapter_filter(guid) +
                               "; if ($a) { netsh interface ipv4 set address name=\"" +
                               "$($a.Name)\" static " + address.address + " " + address.mask + " }");
}

MacAddress query_tap_mac(BridgeStartSystem& system, const std::string& guid) {
    const CommandOutput output = system.run_hidden(
        "powershell",
        {"-NoProfile", "-Command", std::string("(").append(adapter_filter(guid)).append(").MacAddress")});
    return parse_mac_address(output.text);
}

Expected<std::unique_ptr<platform::GreSocket>, std::string> open_bound_socket(BridgeStartSystem& system,
                                                                              const Ipv4Address& local) {
    auto socket = system.open_gre_socket();
    if (!socket) return unexpected(std::string("Nie udało się utworzyć gniazda Raw Socket (Proto 47 GRE)"));
    // Best effort: the receiver bounds each wait itself.
    (void)(*socket)->set_receive_timeout(kReceiveSlice);
    for (int attempt = 0; attempt < kBindAttempts; ++attempt) {
        if ((*socket)->bind(local)) return std::move(*socket);
        system.pause_after_failed_bind();
    }
    return unexpected("Nie udało się przypisać gniazda EoIP (Proto 47) do adresu " + to_dotted(local));
}

class SystemBridgeStart final : public BridgeStartSystem {
public:
    void wait_until_no_reset_runs() override { tap_reset_gate().wait_until_no_reset_runs(); }
    CommandOutput run_hidden(std::string_view program, const std::vector<std::string>& args) override {
        return tarvo::run_hidden(program, args);
    }
    Expected<std::string, std::string> ensure_tap_driver() override { return tarvo::ensure_tap_driver(); }
    Expected<std::unique_ptr<platform::TapDevice>, platform::TapError> open_tap_device(
        std::string_view guid) override {
        return platform::open_tap_device(guid);
    }
    void start_socket_library() override { platform::start_socket_library(); }
    Expected<std::unique_ptr<platform::GreSocket>, platform::OsError> open_gre_socket() override {
        return platform::open_gre_socket();
    }
    void pause_after_failed_bind() override { std::this_thread::sleep_for(std::chrono::milliseconds(250)); }
};

}  // namespace

void start_tap_adapter_reset() { start_tap_reset_thread(); }

void stop_l2_bridge(L2Bridge& bridge, bool reset, const std::function<void()>& start_reset) {
    bridge.running->exchange(false);
    if (bridge.tap) {
        bridge.tap->cancel_all_io();
        (void)bridge.tap->set_media_status(false);
    }
    // The threads end within one wait slice of the cleared flag; the device
    // and the socket are closed only once none of them can touch either.
    for (std::thread& thread : bridge.threads) thread.join();
    bridge.threads.clear();
    bridge.tap.reset();
    bridge.socket.reset();
    if (reset) start_reset();
}

BridgeStartSystem& system_bridge_start_system() {
    static SystemBridgeStart system;
    return system;
}

Expected<std::string, std::string> launch_l2_bridge(L2Bridge& bridge, const BridgeStartInputs& inputs,
                                                    BridgeStartSystem& system) {
    stop_l2_bridge(bridge, false);
    // A reset from an earlier stop would disable and re-address the adapter
    // after this start has readied it.
    system.wait_until_no_reset_runs();
    run_powershell(system, std::string(kFirewallRuleScript));
    auto guid = system.ensure_tap_driver();
    if (!guid) return unexpected(std::move(guid).error());
    run_powershell(system, tap_adapters_script("Enable-NetAdapter"));
    address_tap_adapter(system, *guid, inputs.tap_address);

    auto tap = system.open_tap_device(*guid);
    if (!tap) {
        return unexpected("Nie można otworzyć urządzenia TAP " + platform::tap_device_path(*guid) +
                          " (kod Win32: " + std::to_string(tap.error()) + ")");
    }
    if (const auto media = (*tap)->set_media_status(true); !media) {
        return unexpected(
            "TAP_IOCTL_SET_MEDIA_STATUS nie powiodło się (kod: " + std::to_string(media.error()) + ")");
    }
    system.start_socket_library();
    const auto local = parse_tunnel_address(inputs.wg_ip);
    if (!local) return unexpected("Nieprawidłowy lokalny adres WG IP: " + inputs.wg_ip);
    const auto hub = parse_tunnel_address(inputs.hub_address);
    if (!hub) return unexpected("Nieprawidłowy adres Hub WG IP: " + inputs.hub_address);
    auto socket = open_bound_socket(system, *local);
    if (!socket) return unexpected(std::move(socket).error());

    bridge.tap = std::move(*tap);
    bridge.socket = std::move(*socket);
    bridge.running->exchange(true);
    bridge.rx_bytes->store(0);
    bridge.tx_bytes->store(0);
    const auto sequence = std::make_shared<SequenceCounter>(1);

    const MacAddress tap_mac = query_tap_mac(system, *guid);
    const Ipv4Address sender = keepalive_sender_address(tap_address_and_mask(inputs.tap_address).address);

    platform::TapDevice* device = bridge.tap.get();
    platform::GreSocket* gre = bridge.socket.get();
    bridge.threads.push_back(start_bridge_thread(
        &tap_to_gre_thread_entry,
        TapToGreContext{bridge.running, sequence, bridge.tx_bytes, device, gre, *hub, inputs.tunnel_id}));
    bridge.threads.push_back(start_bridge_thread(
        &gre_to_tap_thread_entry, GreToTapContext{bridge.running, bridge.rx_bytes, sequence, device, gre,
                                                  *hub, *hub, inputs.tunnel_id}));
    bridge.threads.push_back(start_bridge_thread(
        &arp_keepalive_thread_entry,
        ArpKeepaliveContext{bridge.running, sequence, gre, *hub, sender, tap_mac, inputs.tunnel_id}));
    return std::move(*guid);
}

}  // namespace tarvo
