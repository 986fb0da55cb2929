// The tunnel's command lines as the wintools stand-in answers them: the host
// address (netsh) and the MTU-and-routes script (powershell) of the adapter
// tarvo-client, and sc for its leftover service.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::standins {

inline constexpr const char* kWgAdapterName = "tarvo-client";

// The exit code when `tool` with `args` is one of those commands (a malformed
// one included, which fails with a message on standard error); nothing when
// it is someone else's.
std::optional<int> run_wg_command(const std::string& tool, const std::vector<std::string>& args);

// Pure parsing, for tests. The route prefixes of a script in exactly the
// client's form for `adapter`, in order; nothing when it is not that form.
std::optional<std::vector<std::string>> parse_mtu_and_routes_script(const std::string& script,
                                                                    const std::string& adapter);

}  // namespace tarvo::standins
