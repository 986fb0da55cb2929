// Allowed IPs come from the orchestrator: parsing must never crash, a result
// is always a masked network with a prefix of at most 32, and its own text
// reads back as itself.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "wg_engine/ipv4_cidr.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto cidr = tarvo::parse_ipv4_cidr(input);
    if (!cidr) return 0;
    if (cidr->prefix > 32) std::abort();
    const std::uint32_t bits = std::uint32_t{cidr->network[0]} << 24 | std::uint32_t{cidr->network[1]} << 16 |
                               std::uint32_t{cidr->network[2]} << 8 | cidr->network[3];
    const std::uint32_t host_mask = cidr->prefix == 32 ? 0 : ~std::uint32_t{0} >> cidr->prefix;
    if ((bits & host_mask) != 0) std::abort();
    const std::string text = tarvo::format_ipv4_cidr(*cidr);
    const auto again = tarvo::parse_ipv4_cidr(text);
    if (!again || *again != *cidr) std::abort();
    return 0;
}
