// Every packet a raw GRE socket receives is outside input: the acceptance
// tests must never read past it, and what they accept must be exactly the
// bytes after a GRE header of the right tunnel from the hub.
//
// Input: one byte choosing the source (even: the hub), two bytes of tunnel
// id (little-endian), then the received IPv4 packet.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "tap_l2/eoip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const tarvo::Ipv4Address hub{{10, 200, 0, 1}};
    const tarvo::Ipv4Address source = (data[0] & 1) ? tarvo::Ipv4Address{{10, 200, 0, 2}} : hub;
    const auto tunnel_id = static_cast<std::uint16_t>(data[1] | (data[2] << 8));
    const std::span<const std::uint8_t> packet(data + 3, size - 3);

    const auto accepted = tarvo::accept_datagram(packet, source, hub, tunnel_id);
    if (!accepted) return 0;

    const auto payload = *accepted;
    if (source != hub || packet.size() < 21) std::abort();
    // The payload runs to the end of the packet, right after the GRE header.
    if (payload.data() + payload.size() != packet.data() + packet.size()) std::abort();
    const std::size_t gre_start = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    const std::size_t gre_length = (packet[gre_start] & 0x20) ? 12 : 8;
    if (static_cast<std::size_t>(payload.data() - packet.data()) != gre_start + gre_length) std::abort();
    if (packet[gre_start + 2] != 0x64 || packet[gre_start + 3] != 0x00) std::abort();
    if ((packet[gre_start + 6] | (packet[gre_start + 7] << 8)) != tunnel_id) std::abort();
    return 0;
}
