#include "gateway_command.h"

#include <cstdio>
#include <fstream>
#include <string_view>

#include "netns_guard.h"

namespace tarvo::standins {

namespace {

// Written out here rather than taken from the client, so a client that drifts
// from it is caught.
constexpr std::string_view kGatewayScript =
    "Set-NetIPInterface -AddressFamily IPv4 -Forwarding Enabled -ErrorAction SilentlyContinue; "
    "New-NetFirewallRule -DisplayName 'TARVO-ICMPv4-Allow' -Protocol ICMPv4 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null; "
    "New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null; "
    "if (-not (Get-NetNat -Name 'TARVO-L3-FactoryNAT' -ErrorAction SilentlyContinue)) { "
    "New-NetNat -Name 'TARVO-L3-FactoryNAT' -InternalIPInterfaceAddressPrefix '10.200.0.0/24' "
    "-ErrorAction SilentlyContinue | Out-Null }";

}  // namespace

std::optional<int> run_gateway_command(const std::string& tool, const std::vector<std::string>& args) {
    if (tool != "powershell" || args.size() != 3 || args[0] != "-NoProfile" || args[1] != "-Command" ||
        args[2] != kGatewayScript)
        return std::nullopt;
    if (!may_change_network()) {
        std::fprintf(stderr, "%s\n", network_left_alone_note("powershell").c_str());
        return 0;
    }
    // /proc/sys/net is the namespace of whoever opens it: ours.
    std::ofstream forwarding("/proc/sys/net/ipv4/ip_forward");
    forwarding << "1\n";
    forwarding.flush();
    if (!forwarding) {
        std::fprintf(stderr, "powershell stand-in: could not switch IPv4 forwarding on\n");
        return 1;
    }
    return 0;
}

}  // namespace tarvo::standins
