// Finding the TAP-Windows adapter in the registry, and the address the bridge
// gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tarvo {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with hexadecimal digits of either case.
bool is_braced_guid(std::string_view text);

// The network adapter class key as the search reads it; tests stand in for it.
class AdapterClassKey {
public:
    virtual ~AdapterClassKey() = default;
    virtual platform::RegistryKey::Subkey subkey_at(std::uint32_t index) const = 0;
    // A text value of the named subkey; none when the subkey cannot be opened
    // or the value is missing or not text.
    virtual std::optional<std::string> subkey_text(std::string_view subkey, std::string_view value) const = 0;
};

// How many subkey indexes the search asks for at most. A registry that keeps
// failing with an error other than "no more items" would otherwise keep the
// walk (and the bridge start that holds the shared state's lock) going for
// ever. The class key holds one subkey per adapter instance, numbered with
// four digits (0000 to 9999), and a few named ones, so no real key comes near.
inline constexpr std::uint32_t kAdapterSubkeyLimit = 16384;

// The search below `class_key`: indexes from 0 until "no more items" or the
// limit, skipping any that cannot be read.
std::optional<std::string> find_tap_adapter_in(const AdapterClassKey& class_key);

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
