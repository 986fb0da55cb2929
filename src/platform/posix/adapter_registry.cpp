#include "platform/posix/adapter_registry.h"

#include "platform/registry.h"

namespace tarvo::platform {

std::vector<RegisteredAdapter> registered_adapters() {
    std::vector<RegisteredAdapter> adapters;
    const auto class_key = open_local_machine_key(kNetworkAdapterClassKey);
    if (!class_key) return adapters;
    for (std::uint32_t index = 0;; ++index) {
        const auto subkey = class_key->subkey_at(index);
        if (subkey.state == RegistryKey::Subkey::State::no_more_items) break;
        if (subkey.state != RegistryKey::Subkey::State::found) continue;
        const auto key = class_key->open_subkey(subkey.name);
        if (!key) continue;
        adapters.push_back({subkey.name, key->read_string("NetCfgInstanceId").value_or(""),
                            key->read_string("DriverDesc").value_or(""),
                            key->read_string(kLinuxInterfaceValue).value_or("")});
    }
    return adapters;
}

std::optional<std::string> linux_interface_of(std::string_view guid) {
    for (auto& adapter : registered_adapters())
        if (adapter.guid == guid && !adapter.linux_interface.empty())
            return std::move(adapter.linux_interface);
    return std::nullopt;
}

}  // namespace tarvo::platform
