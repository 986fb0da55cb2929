// Turning a granted answer into a running tunnel: status texts, the engine,
// the gateway step, the probe and the L2/L3 decision, each published into the
// shared state as it ends.
#pragma once

#include <string>
#include <string_view>

#include "main/tunnel_context.h"

namespace tarvo {

// Forwarding, the two firewall rules and the NAT of a layer-3 gateway.
inline constexpr std::string_view kGatewayScript =
    "Set-NetIPInterface -AddressFamily IPv4 -Forwarding Enabled -ErrorAction SilentlyContinue; "
    "New-NetFirewallRule -DisplayName 'TARVO-ICMPv4-Allow' -Protocol ICMPv4 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null; "
    "New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 -Direction Inbound -Action Allow "
    "-ErrorAction SilentlyContinue | Out-Null; "
    "if (-not (Get-NetNat -Name 'TARVO-L3-FactoryNAT' -ErrorAction SilentlyContinue)) { "
    "New-NetNat -Name 'TARVO-L3-FactoryNAT' -InternalIPInterfaceAddressPrefix '10.200.0.0/24' "
    "-ErrorAction SilentlyContinue | Out-Null }";

// Answered: exit code 0 and a "TTL=" or "ttl=" in the output.
bool probe_answered(const CommandOutput& ping);

// Takes the lock in separate spans; the caller holds neither it nor any other
// tunnel operation's turn but its own.
void bring_up_tunnel(const TunnelContext& context, const BootstrapResult& result, const HubInfo& hub);

}  // namespace tarvo
