// wireguard.dll for the linux build: the six WireGuard-NT entry points over a
// real userspace WireGuard interface (wireguard-go, driven through its UAPI
// socket). Outside a namespace of the project (TARVO_NETNS) it changes
// nothing: adapters then live in memory only. Every call but the counter
// read is recorded in the stand-ins' call log.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "call_log.h"
#include "config_block.h"
#include "netns_guard.h"
#include "userspace_device.h"
#include "wg_engine/wg_entry_points.h"

namespace {

using namespace tarvo;
using namespace tarvo::standins;

struct Adapter {
    std::string name;
    bool created = false;    // by WireGuardCreateAdapter: closing it removes the adapter
    bool in_memory = false;  // nothing real behind it
    WireguardGo process;     // the wireguard-go this handle started
};

struct InMemoryAdapter {
    InterfaceConfig config;
    bool up = false;
};

std::mutex lock;
std::map<std::string, InMemoryAdapter> in_memory;  // by name, outside a project namespace

constexpr const char* kTool = "wireguard.dll";

void say(const std::string& line) { std::fprintf(stderr, "%s: %s\n", kTool, line.c_str()); }

std::string narrow(const char16_t* text) {
    std::string out;
    for (; text && *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string guid_text(const WgGuid* guid) {
    std::string text;
    char byte[3];
    for (std::size_t i = 0; guid && i < sizeof guid->bytes; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", guid->bytes[i]);
        text += byte;
    }
    return text;
}

Adapter* adapter_of(WgAdapterHandle handle) { return reinterpret_cast<Adapter*>(handle); }
WgAdapterHandle handle_of(Adapter* adapter) { return reinterpret_cast<WgAdapterHandle>(adapter); }

WgAdapterHandle new_handle(Adapter adapter) { return handle_of(new Adapter(std::move(adapter))); }

}  // namespace

#define TARVO_EXPORT extern "C" __attribute__((visibility("default")))

TARVO_EXPORT WgAdapterHandle WireGuardCreateAdapter(const char16_t* name, const char16_t* tunnel_type,
                                                    const WgGuid* requested_guid) {
    const std::string adapter_name = narrow(name);
    record_call(kTool,
                {"WireGuardCreateAdapter", adapter_name, narrow(tunnel_type), guid_text(requested_guid)});
    std::lock_guard guard(lock);
    if (!may_change_network()) {
        std::fprintf(stderr, "%s\n", network_left_alone_note(kTool).c_str());
        in_memory[adapter_name] = InMemoryAdapter{};
        return new_handle({adapter_name, true, true, {}});
    }
    // WireGuard-NT replaces an adapter a crashed run left behind; so does this.
    if (uapi_answers(adapter_name)) end_foreign_wireguard_go(adapter_name);
    auto process = start_wireguard_go(adapter_name);
    if (!process) {
        say(process.error());
        return nullptr;
    }
    return new_handle({adapter_name, true, false, *process});
}

TARVO_EXPORT WgAdapterHandle WireGuardOpenAdapter(const char16_t* name) {
    const std::string adapter_name = narrow(name);
    record_call(kTool, {"WireGuardOpenAdapter", adapter_name});
    std::lock_guard guard(lock);
    if (!may_change_network())
        return in_memory.contains(adapter_name) ? new_handle({adapter_name, false, true, {}}) : nullptr;
    return uapi_answers(adapter_name) ? new_handle({adapter_name, false, false, {}}) : nullptr;
}

TARVO_EXPORT void WireGuardCloseAdapter(WgAdapterHandle handle) {
    std::unique_ptr<Adapter> adapter(adapter_of(handle));
    if (!adapter) return;
    record_call(kTool, {"WireGuardCloseAdapter", adapter->name, adapter->created ? "created" : "opened"});
    std::lock_guard guard(lock);
    if (!adapter->created) return;  // only releases the handle
    if (adapter->in_memory) {
        in_memory.erase(adapter->name);
        return;
    }
    stop_wireguard_go(adapter->process, adapter->name);
}

TARVO_EXPORT WgBool WireGuardSetAdapterState(WgAdapterHandle handle, std::int32_t state) {
    Adapter* adapter = adapter_of(handle);
    if (!adapter || (state != kWgAdapterStateDown && state != kWgAdapterStateUp)) return 0;
    record_call(kTool, {"WireGuardSetAdapterState", adapter->name, std::to_string(state)});
    std::lock_guard guard(lock);
    if (adapter->in_memory) {
        const auto found = in_memory.find(adapter->name);
        if (found == in_memory.end()) return 0;
        found->second.up = state == kWgAdapterStateUp;
        return 1;
    }
    const auto set = set_link_up(adapter->name, state == kWgAdapterStateUp);
    if (!set) say(set.error());
    return set ? 1 : 0;
}

TARVO_EXPORT WgBool WireGuardSetConfiguration(WgAdapterHandle handle, const std::uint8_t* config,
                                              std::uint32_t bytes) {
    Adapter* adapter = adapter_of(handle);
    if (!adapter || !config) return 0;
    record_call(kTool, {"WireGuardSetConfiguration", adapter->name, std::to_string(bytes)});
    const auto parsed = read_config_block({config, bytes});
    if (!parsed) {
        say("configuration refused: " + parsed.error());
        return 0;
    }
    std::lock_guard guard(lock);
    if (adapter->in_memory) {
        const auto found = in_memory.find(adapter->name);
        if (found == in_memory.end()) return 0;
        found->second.config = *parsed;
        return 1;
    }
    const auto reply = uapi_exchange(adapter->name, uapi_set_request(*parsed));
    if (!reply || reply->rfind("errno=0\n", 0) != 0) {
        say("configuration refused by wireguard-go: " + (reply ? *reply : reply.error()));
        return 0;
    }
    return 1;
}

TARVO_EXPORT WgBool WireGuardGetConfiguration(WgAdapterHandle handle, std::uint8_t* config,
                                              std::uint32_t* bytes) {
    Adapter* adapter = adapter_of(handle);
    if (!adapter || !bytes) return 0;
    InterfaceConfig current;
    {
        std::lock_guard guard(lock);
        if (adapter->in_memory) {
            const auto found = in_memory.find(adapter->name);
            if (found == in_memory.end()) return 0;
            current = found->second.config;
        } else {
            const auto reply = uapi_exchange(adapter->name, "get=1\n\n");
            if (!reply) return 0;
            auto read = read_uapi_get_reply(*reply);
            if (!read) return 0;
            current = std::move(*read);
        }
    }
    const std::vector<std::uint8_t> block = write_config_block(current);
    const auto needed = static_cast<std::uint32_t>(block.size());
    if (!config || *bytes < needed) {
        *bytes = needed;
        errno = EMSGSIZE;  // the caller asks again with a buffer of this size
        return 0;
    }
    std::copy(block.begin(), block.end(), config);
    *bytes = needed;
    return 1;
}

static_assert(std::is_same_v<decltype(&WireGuardCreateAdapter), WireGuardCreateAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardOpenAdapter), WireGuardOpenAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardCloseAdapter), WireGuardCloseAdapterFn>);
static_assert(std::is_same_v<decltype(&WireGuardSetAdapterState), WireGuardSetAdapterStateFn>);
static_assert(std::is_same_v<decltype(&WireGuardSetConfiguration), WireGuardSetConfigurationFn>);
static_assert(std::is_same_v<decltype(&WireGuardGetConfiguration), WireGuardGetConfigurationFn>);
