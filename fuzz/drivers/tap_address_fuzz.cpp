// The TAP address comes from the orchestrator: turning it into the adapter's
// address and mask must never crash, the mask is always one of the 33
// prefix masks, and the address is the text before the "/" (a network
// address "x.y.z.0" becoming "x.y.z.10").
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "drivers/tap_adapter.h"

namespace {

bool is_prefix_mask(const std::string& mask) {
    for (int length = 0; length <= 32; ++length) {
        const std::uint32_t bits = length == 0 ? 0 : ~std::uint32_t{0} << (32 - length);
        const std::string text = std::to_string(bits >> 24) + "." + std::to_string((bits >> 16) & 0xFF) +
                                 "." + std::to_string((bits >> 8) & 0xFF) + "." + std::to_string(bits & 0xFF);
        if (mask == text) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const tarvo::TapAddress result = tarvo::tap_address_and_mask(input);
    if (!is_prefix_mask(result.mask)) std::abort();
    if (result.address.find('/') != std::string::npos) std::abort();
    const bool has_prefix = input.find('/') != std::string_view::npos;
    if (!has_prefix && result.mask != "255.255.255.0") std::abort();
    if (has_prefix && input.find(result.address) == std::string_view::npos &&
        !(result.address.ends_with(".10") &&
          input.find(result.address.substr(0, result.address.size() - 2) + "0/") != std::string_view::npos))
        std::abort();
    return 0;
}
