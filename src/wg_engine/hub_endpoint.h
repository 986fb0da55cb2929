// The hub's endpoint as WireGuard-NT takes it: one IPv4 address and port.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/resolver.h"
#include "util/expected.h"
#include "wg_engine/wg_config_block.h"

namespace tarvo {

using HostPortResolver =
    std::function<Expected<std::vector<platform::ResolvedAddress>, std::string>(std::string_view host_port)>;

// Resolves the trimmed text and takes the first IPv4 address in the
// resolver's order. Errors carry `endpoint` as received:
// "Nie można rozwiązać adresu Huba '{}': {}", "Brak adresu IPv4 dla endpointu '{}'".
Expected<WgEndpoint, std::string> resolve_hub_endpoint(std::string_view endpoint,
                                                       const HostPortResolver& resolve);

}  // namespace tarvo
