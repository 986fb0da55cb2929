// Name resolution for "host:port" texts through the system's standard
// resolver (getaddrinfo), addresses in the resolver's own order.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/host_port.h"
#include "util/expected.h"

namespace tarvo::platform {

struct ResolvedAddress {
    bool is_ipv4 = false;
    std::array<std::uint8_t, 16> address{};  // an IPv4 address in the first 4 bytes
    std::uint16_t port = 0;
};

// Every address the resolver gives for `host`, with `port`; or the resolver's
// description of why it gave none.
Expected<std::vector<ResolvedAddress>, std::string> resolve_host(const std::string& host, std::uint16_t port);

// The text split at its last ':' (text::split_host_port), then resolve_host.
inline Expected<std::vector<ResolvedAddress>, std::string> resolve_host_port(std::string_view text) {
    auto split = text::split_host_port(text);
    if (!split) return unexpected(std::move(split).error());
    return resolve_host(split->host, split->port);
}

}  // namespace tarvo::platform
