// The network adapters of the linux build's stand-in registry: each class
// subkey that a stand-in TAP installation wrote names, under a value of our
// own, the Linux interface that plays the adapter.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::platform {

inline constexpr std::string_view kLinuxInterfaceValue = "TarvoLinuxInterface";

struct RegisteredAdapter {
    std::string subkey;
    std::string guid;             // NetCfgInstanceId, possibly empty
    std::string description;      // DriverDesc
    std::string linux_interface;  // empty when the subkey names none
};

// Every subkey of the adapter class key, in enumeration order.
std::vector<RegisteredAdapter> registered_adapters();

// The Linux interface of the adapter whose NetCfgInstanceId is exactly `guid`.
std::optional<std::string> linux_interface_of(std::string_view guid);

}  // namespace tarvo::platform
