// "host:port" texts as endpoints are written: split at the last ':', a host
// in brackets ("[2001:db8::1]") allowed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "util/expected.h"

namespace tarvo::text {

struct HostAndPort {
    std::string host;
    std::uint16_t port = 0;
    friend bool operator==(const HostAndPort&, const HostAndPort&) = default;
};

// The port is a decimal number 0-65535; a bracketed host loses its brackets.
// Errors say what is wrong (Polish).
Expected<HostAndPort, std::string> split_host_port(std::string_view text);

}  // namespace tarvo::text
