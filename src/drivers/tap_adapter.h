// Finding the TAP-Windows adapter in the registry, and the address the bridge
// gives it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tarvo {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits of either case.
bool is_braced_guid(std::string_view text);

// The NetCfgInstanceId of the first subkey (in enumeration order) whose
// ComponentId is "tap0901" or "root\tap0901" in any letter case. The GUID goes
// into commands, scripts and a device path run as administrator, so a value
// that is not a braced GUID counts as no GUID at all and the search goes on.
std::optional<std::string> find_tap_adapter();

// The same below another class key (tests seed a scratch key).
std::optional<std::string> find_tap_adapter_below(std::string_view class_key_path);

struct TapAddress {
    std::string address;  // host address text
    std::string mask;     // dotted netmask
};

// The orchestrator's TAP address ("A.B.C.D" with an optional "/prefix") as the
// adapter's host address and dotted mask; a network address "x.y.z.0" with a
// prefix becomes its host "x.y.z.10".
TapAddress tap_address_and_mask(std::string_view tap_ip);

}  // namespace tarvo
