// Typed codes are user input: cleaning must never crash, a well-formed code
// must come out in a sendable canonical form, and the check must agree
// before and after normalising.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "orchestrator/access_code.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string normalized = tarvo::normalize_access_code(input);
    const bool valid = tarvo::is_valid_access_code(input);
    if (valid != tarvo::is_valid_access_code(normalized)) std::abort();
    if (valid) {
        if (tarvo::normalize_access_code(normalized) != normalized) std::abort();
        for (const char c : normalized) {
            const bool sendable = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
            if (!sendable) std::abort();
        }
    }
    const std::string shown = tarvo::format_pass_expiry(std::string(input));
    if (shown.size() > 16 * 4 && shown != "aktywna") std::abort();
    return 0;
}
