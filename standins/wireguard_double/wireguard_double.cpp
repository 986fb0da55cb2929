// wireguard.dll for the windows stand-in build (never a release): the six
// WireGuard-NT entry points with adapters kept in memory. It records every
// call with what it received, the configuration block byte for byte, so a
// test under Wine can read back what crossed the Windows calling convention
// (TarvoWireGuardDoubleCalls). Blocks are checked as the Linux stand-in
// checks them.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "config_block.h"
#include "wg_engine/wg_entry_points.h"

namespace {

using namespace tarvo;
using namespace tarvo::standins;

struct Adapter {
    std::string name;
    bool created = false;
};

struct AdapterState {
    std::vector<std::uint8_t> configuration = write_config_block({});
    bool up = false;
};

std::mutex lock;
std::map<std::string, AdapterState> adapters;
std::string calls;  // one line per call

std::string narrow(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string hex(const std::uint8_t* bytes, std::size_t size) {
    std::string text;
    char two[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
    }
    return text;
}

void record(const std::string& line) { calls += line + "\n"; }

Adapter* adapter_of(WgAdapterHandle handle) { return reinterpret_cast<Adapter*>(handle); }

}  // namespace

#define TARVO_EXPORT extern "C" __declspec(dllexport)

TARVO_EXPORT WgAdapterHandle TARVO_WG_API WireGuardCreateAdapter(const char16_t* name,
                                                                 const char16_t* tunnel_type,
                                                                 const WgGuid* requested_guid) {
    std::lock_guard guard(lock);
    const std::string adapter = narrow(name);
    record("WireGuardCreateAdapter " + adapter + " " + narrow(tunnel_type) + " " +
           (requested_guid ? hex(requested_guid->bytes, 16) : "null"));
    adapters[adapter] = AdapterState{};
    return reinterpret_cast<WgAdapterHandle>(new Adapter{adapter, true});
}

TARVO_EXPORT WgAdapterHandle TARVO_WG_API WireGuardOpenAdapter(const char16_t* name) {
    std::lock_guard guard(lock);
    const std::string adapter = narrow(name);
    record("WireGuardOpenAdapter " + adapter);
    if (!adapters.contains(adapter)) return nullptr;
    return reinterpret_cast<WgAdapterHandle>(new Adapter{adapter, false});
}

TARVO_EXPORT void TARVO_WG_API WireGuardCloseAdapter(WgAdapterHandle handle) {
    std::lock_guard guard(lock);
    std::unique_ptr<Adapter> adapter(adapter_of(handle));
    if (!adapter) return;
    record("WireGuardCloseAdapter " + adapter->name + (adapter->created ? " created" : " opened"));
    if (adapter->created) adapters.erase(adapter->name);
}

TARVO_EXPORT WgBool TARVO_WG_API WireGuardSetAdapterState(WgAdapterHandle handle, std::int32_t state) {
    std::lock_guard guard(lock);
    Adapter* adapter = adapter_of(handle);
    if (!adapter) return 0;
    record("WireGuardSetAdapterState " + adapter->name + " " + std::to_string(state));
    const auto found = adapters.find(adapter->name);
    if (found == adapters.end() || (state != kWgAdapterStateDown && state != kWgAdapterStateUp)) return 0;
    found->second.up = state == kWgAdapterStateUp;
    return 1;
}

TARVO_EXPORT WgBool TARVO_WG_API WireGuardSetConfiguration(WgAdapterHandle handle, const std::uint8_t* config,
                                                           std::uint32_t bytes) {
    std::lock_guard guard(lock);
    Adapter* adapter = adapter_of(handle);
    if (!adapter || !config) return 0;
    record("WireGuardSetConfiguration " + adapter->name + " " + std::to_string(bytes) + " " +
           hex(config, bytes));
    const auto found = adapters.find(adapter->name);
    const auto parsed = read_config_block({config, bytes});
    if (found == adapters.end() || !parsed) return 0;
    found->second.configuration = write_config_block(*parsed);
    return 1;
}

TARVO_EXPORT WgBool TARVO_WG_API WireGuardGetConfiguration(WgAdapterHandle handle, std::uint8_t* config,
                                                           std::uint32_t* bytes) {
    std::lock_guard guard(lock);
    Adapter* adapter = adapter_of(handle);
    if (!adapter || !bytes) return 0;
    const auto found = adapters.find(adapter->name);
    if (found == adapters.end()) return 0;
    const std::vector<std::uint8_t>& block = found->second.configuration;
    const auto needed = static_cast<std::uint32_t>(block.size());
    const bool fits = config && *bytes >= needed;
    *bytes = needed;
    if (!fits) return 0;
    std::memcpy(config, block.data(), block.size());
    return 1;
}

// The recorded calls, one per line, NUL-terminated in `buffer` when it holds
// them; returns the size needed (terminator included).
TARVO_EXPORT std::uint32_t TarvoWireGuardDoubleCalls(char* buffer, std::uint32_t size) {
    std::lock_guard guard(lock);
    const auto needed = static_cast<std::uint32_t>(calls.size() + 1);
    if (buffer && size >= needed) std::memcpy(buffer, calls.c_str(), needed);
    return needed;
}

static_assert(std::is_same_v<decltype(&WireGuardCreateAdapter), WireGuardCreateAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardOpenAdapter), WireGuardOpenAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardCloseAdapter), WireGuardCloseAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardSetAdapterState), WireGuardSetAdapterStateFn>);
static_assert(std::is_same_v<decltype(&WireGuardSetConfiguration), WireGuardSetConfigurationFn>);
static_assert(std::is_same_v<decltype(&WireGuardGetConfiguration), WireGuardGetConfigurationFn>);
