// The bring-up's layer-3 gateway script: inside a namespace of the project it
// switches IPv4 forwarding on there; its firewall rules and NAT are recorded
// only (the namespace lets everything through and routes without NAT).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::standins {

// The exit code when `tool args` is the gateway script; nothing otherwise.
std::optional<int> run_gateway_command(const std::string& tool, const std::vector<std::string>& args);

}  // namespace tarvo::standins
