// The TAP adapter command lines of the client, given their Linux effects on
// the interface that the stand-in registry names for the adapter: netsh's
// DHCP and static address, the PowerShell scripts that enable or disable the
// TAP-Windows adapters, address the first of them, and read its MAC address.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::standins {

// The exit code when `tool args` is one of those command lines (1, with a
// message, for any other script about network adapters); nothing for any
// other call.
std::optional<int> run_tap_command(const std::string& tool, const std::vector<std::string>& args);

}  // namespace tarvo::standins
