// The wireguard.dll stand-in checks every block it is handed: any bytes must
// be refused or accepted without a crash, and an accepted block must come
// out of the stand-in's own writer unchanged in its meaning.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "config_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto config = tarvo::standins::read_config_block(std::span(data, size));
    if (!config) return 0;
    (void)tarvo::standins::uapi_set_request(*config);
    const auto written = tarvo::standins::write_config_block(*config);
    const auto again = tarvo::standins::read_config_block(written);
    if (!again || again->peers.size() != config->peers.size()) std::abort();
    for (std::size_t i = 0; i < config->peers.size(); ++i)
        if (again->peers[i].allowed_ips.size() != config->peers[i].allowed_ips.size()) std::abort();
    return 0;
}
