// The public roots the HTTP client trusts for the orchestrator's certificate.
// They are fixed when the program is built (the Mozilla set of Debian's
// ca-certificates, the same in both builds), so a root added to the machine's
// own store, by an administrator or a TLS-inspecting proxy, is never trusted.
#pragma once

#include <span>

namespace tarvo::platform {

// Each root's DER encoding.
std::span<const std::span<const unsigned char>> public_root_certificates();

}  // namespace tarvo::platform
