// The system's one WireGuard-NT tunnel: the adapter "tarvo-client" with the
// hub as its only peer, brought up from wireguard.dll's entry points and the
// system tools (netsh, powershell, sc). Every call runs under the caller's
// AppState lock; nothing here locks by itself.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/hidden_command.h"
#include "platform/library.h"
#include "util/expected.h"
#include "wg_engine/hub_endpoint.h"
#include "wg_engine/wg_config_block.h"
#include "wg_engine/wg_entry_points.h"

namespace tarvo {

struct WgEngine {
    std::string adapter_name = "tarvo-client";
    WgAdapterHandle adapter = nullptr;  // held from a start's creation to the next close
    // From the same load of the library as `adapter`; kept after a close, since
    // the library is never unloaded.
    WireGuardCloseAdapterFn close_adapter = nullptr;
    WireGuardSetAdapterStateFn set_adapter_state = nullptr;
    WireGuardGetConfigurationFn get_configuration = nullptr;  // the traffic sampling's
};

// What the start and close sequences use of the system; tests replace parts.
struct WgEngineSystem {
    std::function<Status<std::string>()> extract_embedded_files;
    std::function<std::filesystem::path()> wireguard_dll_path;
    HostPortResolver resolve;
    std::function<Expected<platform::LibraryHandle, platform::OsError>(const std::filesystem::path&)>
        load_library;
    std::function<void*(platform::LibraryHandle, const char*)> library_symbol;
    std::function<CommandOutput(std::string_view program, const std::vector<std::string>& args)> run_hidden;
};

// The real ones: embedded files (wireguard.dll loaded only as the embedded
// copy), getaddrinfo, the library seam, run_hidden.
const WgEngineSystem& host_wg_engine_system();

inline constexpr std::string_view kLeftoverServiceName = "WireGuardTunnel$tarvo-client";

// {5D8AC1E0-2205-4B9A-9122-102000002500} as it lies in memory.
inline constexpr WgGuid kRequestedAdapterGuid{
    {0xE0, 0xC1, 0x8A, 0x5D, 0x05, 0x22, 0x9A, 0x4B, 0x91, 0x22, 0x10, 0x20, 0x00, 0x00, 0x25, 0x00}};

struct WgStartInputs {
    std::vector<std::string> allowed_ips;  // used in the order given
    std::string private_key;               // the node's, Base64
    std::string wg_ip;                     // the node's tunnel address, "10.200.0.7/32" or "10.200.0.7"
    std::string hub_public_key;            // Base64
    std::string hub_endpoint;              // "host:port"
};

// Closes what the engine holds, then brings the adapter up with one peer, its
// host address, state, MTU and routes. The first failure ends it with its
// Polish text and leaves no adapter.
Status<std::string> start_wg_engine(WgEngine& engine, const WgStartInputs& inputs,
                                    const WgEngineSystem& system = host_wg_engine_system());

// Sets a held adapter down and closes it (which removes it), then removes a
// leftover Windows service of the tunnel. Never fails.
void close_wg_engine(WgEngine& engine, const WgEngineSystem& system = host_wg_engine_system());

// The first peer's counters, read through `get_configuration` into a
// 4096-byte buffer; nothing without an adapter or the entry point, when the
// call fails, or when the answer is 215 bytes or less.
std::optional<WgPeerTraffic> read_wg_peer_traffic(const WgEngine& engine);

// The netsh arguments that give the adapter the host part of `wg_ip` (before
// its first '/', trimmed) with the mask 255.255.255.255. A host that is not a
// strict dotted quad goes as an empty address, as an empty host does: netsh
// reads "name=value" words as parameters and "-x" or "/x" as switches, so no
// other orchestrator text may reach it.
std::vector<std::string> host_address_arguments(std::string_view adapter_name, std::string_view wg_ip);

// The PowerShell script that sets the MTU and one route per allowed IP that
// parses; empty when none does (then PowerShell is not run).
std::string mtu_and_routes_script(std::string_view adapter_name, const std::vector<std::string>& allowed_ips);

}  // namespace tarvo
