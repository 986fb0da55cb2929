// WireGuard keys as the orchestrator sends them: 32 bytes in padded Base64.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "util/expected.h"

namespace tarvo {

using WgKey = std::array<std::uint8_t, 32>;

// Trims surrounding blanks, then decodes. Errors: "Błąd Base64: {what, where}"
// or "Klucz ma {n} bajtów (wymagane 32)".
Expected<WgKey, std::string> decode_wg_key(std::string_view text);

}  // namespace tarvo
