// The orchestrator's address texts and the system's MAC report are outside
// input: reading them must never crash, an address read in strict form must
// write back as the very same text (so nothing else can ride along into a
// command line), and a MAC other than the fallback needs six pieces.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tap_l2/bridge_addresses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto address = tarvo::parse_dotted_ipv4(text)) {
        if (tarvo::to_dotted(*address) != text) std::abort();
    }
    if (const auto tunnel = tarvo::parse_tunnel_address(text)) {
        if (text.substr(0, text.find('/')).find(tarvo::to_dotted(*tunnel)) == std::string_view::npos)
            std::abort();
    }
    (void)tarvo::keepalive_sender_address(text);

    const tarvo::MacAddress mac = tarvo::parse_mac_address(text);
    if (mac != tarvo::kFallbackTapMac) {
        tarvo::MacPartSplitter splitter{text};
        int pieces = 0;
        while (tarvo::next_mac_part(splitter)) ++pieces;
        if (pieces != 6) std::abort();
    }
    return 0;
}
