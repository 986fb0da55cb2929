// The six entry points wireguard.dll (WireGuard-NT) exports, declared here with
// their published signatures: the adapter handle is opaque, names are
// NUL-terminated UTF-16 (char16_t, since wchar_t is 32-bit off Windows), and
// on Windows they use the system's calling convention.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define TARVO_WG_API __stdcall
#else
#define TARVO_WG_API
#endif

namespace tarvo {

struct WgAdapter;  // never defined: only the library knows what a handle points to
using WgAdapterHandle = WgAdapter*;

// A GUID as it lies in memory.
struct alignas(4) WgGuid {
    std::uint8_t bytes[16];
};
static_assert(sizeof(WgGuid) == 16);

using WgBool = std::int32_t;  // non-zero on success
inline constexpr std::int32_t kWgAdapterStateDown = 0;
inline constexpr std::int32_t kWgAdapterStateUp = 1;

using WireGuardCreateAdapterFn = WgAdapterHandle(TARVO_WG_API*)(const char16_t* name,
                                                                const char16_t* tunnel_type,
                                                                const WgGuid* requested_guid);
using WireGuardOpenAdapterFn = WgAdapterHandle(TARVO_WG_API*)(const char16_t* name);
using WireGuardCloseAdapterFn = void(TARVO_WG_API*)(WgAdapterHandle adapter);
using WireGuardSetAdapterStateFn = WgBool(TARVO_WG_API*)(WgAdapterHandle adapter, std::int32_t state);
using WireGuardSetConfigurationFn = WgBool(TARVO_WG_API*)(WgAdapterHandle adapter, const std::uint8_t* config,
                                                          std::uint32_t bytes);
// `bytes` holds the buffer's size on the way in; on the way out the size of
// the configuration (also when the buffer was too small and the call failed).
using WireGuardGetConfigurationFn = WgBool(TARVO_WG_API*)(WgAdapterHandle adapter, std::uint8_t* config,
                                                          std::uint32_t* bytes);

}  // namespace tarvo
