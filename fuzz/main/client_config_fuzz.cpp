// The settings file is read from a user-writable folder: any bytes must give
// either a config or the defaults, and what is accepted must survive a save.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "main/client_config.h"
#include "text/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto config = tarvo::parse_client_config(text);
    if (!config) return 0;
    if (!tarvo::text::is_valid_utf8(config->DeviceCode)) std::abort();
    const auto again = tarvo::parse_client_config(tarvo::serialize_client_config(*config));
    if (!again || !(*again == *config)) std::abort();
    return 0;
}
