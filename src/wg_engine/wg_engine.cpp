#include "wg_engine/wg_engine.h"

#include <algorithm>
#include <cctype>
#include <span>

#include "drivers/embedded_files.h"
#include "platform/resolver.h"
#include "text/powershell_quotes.h"
#include "text/unicode_text.h"
#include "text/utf16_text.h"
#include "util/ipv4_address.h"
#include "wg_engine/ipv4_cidr.h"
#include "wg_engine/wg_config_block.h"
#include "wg_engine/wg_key.h"

namespace tarvo {

namespace {

struct EntryPoints {
    WireGuardCreateAdapterFn create_adapter = nullptr;
    WireGuardOpenAdapterFn open_adapter = nullptr;
    WireGuardCloseAdapterFn close_adapter = nullptr;
    WireGuardSetAdapterStateFn set_adapter_state = nullptr;
    WireGuardSetConfigurationFn set_configuration = nullptr;
    WireGuardGetConfigurationFn get_configuration = nullptr;
};

// Looks the entry point up; false (and the start's text in `error`) when the
// library does not export it.
template <class Fn>
bool look_up(const WgEngineSystem& system, platform::LibraryHandle library, const char* name, Fn& into,
             std::string& error) {
    void* address = system.library_symbol(library, name);
    if (!address) {
        error = std::string("Brak funkcji ") + name + " w wireguard.dll";
        return false;
    }
    into = reinterpret_cast<Fn>(address);
    return true;
}

Expected<EntryPoints, std::string> look_up_entry_points(const WgEngineSystem& system,
                                                        platform::LibraryHandle library) {
    EntryPoints e;
    std::string error;
    const bool all = look_up(system, library, "WireGuardCreateAdapter", e.create_adapter, error) &&
                     look_up(system, library, "WireGuardOpenAdapter", e.open_adapter, error) &&
                     look_up(system, library, "WireGuardCloseAdapter", e.close_adapter, error) &&
                     look_up(system, library, "WireGuardSetAdapterState", e.set_adapter_state, error) &&
                     look_up(system, library, "WireGuardSetConfiguration", e.set_configuration, error) &&
                     look_up(system, library, "WireGuardGetConfiguration", e.get_configuration, error);
    if (!all) return unexpected(std::move(error));
    return e;
}

std::vector<Ipv4Cidr> parsed_allowed_ips(const std::vector<std::string>& texts) {
    std::vector<Ipv4Cidr> records;
    for (const std::string& text : texts)
        if (const auto cidr = parse_ipv4_cidr(text)) records.push_back(*cidr);
    return records;
}

bool contains_service(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text.find("wireguardtunnel") != std::string::npos;
}

}  // namespace

const WgEngineSystem& host_wg_engine_system() {
    static const WgEngineSystem system{
        [] { return extract_embedded_files(); },
        [] { return wireguard_dll_path(); },
        platform::resolve_host_port,
        load_embedded_library,
        platform::library_symbol,
        run_hidden,
    };
    return system;
}

std::vector<std::string> host_address_arguments(std::string_view adapter_name, std::string_view wg_ip) {
    std::string_view host = unicode::trim_white_space(wg_ip.substr(0, wg_ip.find('/')));
    if (!parse_dotted_ipv4(host)) host = {};
    return {
        "interface",       "ipv4",           "set", "address", "name=" + std::string(adapter_name), "static",
        std::string(host), "255.255.255.255"};
}

std::string mtu_and_routes_script(std::string_view adapter_name,
                                  const std::vector<std::string>& allowed_ips) {
    const std::string name = text::double_powershell_quotes(adapter_name);
    std::string routes;
    for (const Ipv4Cidr& cidr : parsed_allowed_ips(allowed_ips)) {
        const std::string prefix = text::double_powershell_quotes(format_ipv4_cidr(cidr));
        if (!routes.empty()) routes += "; ";
        routes += "Remove-NetRoute -DestinationPrefix '" + prefix +
                  "' -Confirm:$false -ErrorAction SilentlyContinue; New-NetRoute -DestinationPrefix '" +
                  prefix + "' -InterfaceAlias '" + name +
                  "' -NextHop '0.0.0.0' -RouteMetric 5 -ErrorAction SilentlyContinue | Out-Null";
    }
    if (routes.empty()) return {};
    return "Set-NetIPInterface -InterfaceAlias '" + name +
           "' -NlMtuBytes 1420 -ErrorAction SilentlyContinue; " + routes;
}

void close_wg_engine(WgEngine& engine, const WgEngineSystem& system) {
    if (engine.adapter) {
        if (engine.set_adapter_state) engine.set_adapter_state(engine.adapter, kWgAdapterStateDown);
        if (engine.close_adapter) engine.close_adapter(engine.adapter);
        engine.adapter = nullptr;
    }
    const std::string service(kLeftoverServiceName);
    if (contains_service(system.run_hidden("sc", {"query", service}).text)) {
        system.run_hidden("sc", {"stop", service});
        system.run_hidden("sc", {"delete", service});
    }
}

std::optional<WgPeerTraffic> read_wg_peer_traffic(const WgEngine& engine) {
    if (!engine.adapter || !engine.get_configuration) return std::nullopt;
    std::vector<std::uint8_t> buffer(4096);
    auto size = static_cast<std::uint32_t>(buffer.size());
    if (!engine.get_configuration(engine.adapter, buffer.data(), &size)) return std::nullopt;
    return read_first_peer_traffic(std::span(buffer).first(std::min<std::size_t>(size, buffer.size())));
}

Status<std::string> start_wg_engine(WgEngine& engine, const WgStartInputs& inputs,
                                    const WgEngineSystem& system) {
    close_wg_engine(engine, system);
    if (auto extracted = system.extract_embedded_files(); !extracted)
        return unexpected(std::move(extracted).error());

    const auto private_key = decode_wg_key(inputs.private_key);
    if (!private_key) return unexpected("Nieprawidłowy PrivateKey WireGuard: " + private_key.error());
    const auto hub_key = decode_wg_key(inputs.hub_public_key);
    if (!hub_key) return unexpected("Nieprawidłowy PublicKey Huba: " + hub_key.error());
    const auto endpoint = resolve_hub_endpoint(inputs.hub_endpoint, system.resolve);
    if (!endpoint) return unexpected(endpoint.error());

    const auto library = system.load_library(system.wireguard_dll_path());
    if (!library)
        return unexpected(
            std::string("Nie udało się załadować natywnej biblioteki wireguard.dll (WireGuard-NT)"));
    const auto entry = look_up_entry_points(system, *library);
    if (!entry) return unexpected(entry.error());

    const std::u16string name = text::utf8_to_utf16(engine.adapter_name);
    if (const WgAdapterHandle leftover = entry->open_adapter(name.c_str())) {
        entry->set_adapter_state(leftover, kWgAdapterStateDown);
        entry->close_adapter(leftover);
    }
    const WgAdapterHandle adapter = entry->create_adapter(name.c_str(), u"WireGuard", &kRequestedAdapterGuid);
    if (!adapter)
        return unexpected(
            std::string("WireGuardCreateAdapter zwrócił NULL (uruchom program jako Administrator)"));
    engine.adapter = adapter;
    engine.close_adapter = entry->close_adapter;
    engine.set_adapter_state = entry->set_adapter_state;
    engine.get_configuration = entry->get_configuration;

    const std::vector<Ipv4Cidr> records = parsed_allowed_ips(inputs.allowed_ips);
    const std::vector<std::uint8_t> block = build_wg_config_block(*private_key, *hub_key, *endpoint, records);
    if (!entry->set_configuration(adapter, block.data(), static_cast<std::uint32_t>(block.size()))) {
        close_wg_engine(engine, system);
        return unexpected(std::string("WireGuardSetConfiguration nie powiodło się"));
    }

    system.run_hidden("netsh", host_address_arguments(engine.adapter_name, inputs.wg_ip));

    if (!entry->set_adapter_state(adapter, kWgAdapterStateUp)) {
        close_wg_engine(engine, system);
        return unexpected(std::string("WireGuardSetAdapterState(UP) nie powiodło się"));
    }

    if (const std::string script = mtu_and_routes_script(engine.adapter_name, inputs.allowed_ips);
        !script.empty())
        system.run_hidden("powershell", {"-NoProfile", "-Command", script});
    return Unit{};
}

}  // namespace tarvo
