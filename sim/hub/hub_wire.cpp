#include "hub_wire.h"

#include <cstring>

namespace tarvo::sim::hub {

void write_hub_header(std::uint8_t* out, std::uint16_t payload_length, std::uint16_t tunnel_id,
                      std::uint32_t sequence) {
    const std::uint8_t header[kHubHeaderLength] = {
        0x20,
        0x01,
        0x64,
        0x00,
        static_cast<std::uint8_t>(payload_length >> 8),
        static_cast<std::uint8_t>(payload_length & 0xFF),
        static_cast<std::uint8_t>(tunnel_id & 0xFF),
        static_cast<std::uint8_t>(tunnel_id >> 8),
        static_cast<std::uint8_t>(sequence >> 24),
        static_cast<std::uint8_t>(sequence >> 16),
        static_cast<std::uint8_t>(sequence >> 8),
        static_cast<std::uint8_t>(sequence),
    };
    std::memcpy(out, header, sizeof header);
}

Inbound read_inbound(const std::uint8_t* packet, std::size_t length, const std::uint8_t* source,
                     const std::uint8_t* peer, std::uint16_t tunnel_id) {
    Inbound in;
    if (length < 20 || (packet[0] >> 4) != 4 || packet[9] != 47) return in;
    const std::size_t ip_header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (ip_header < 20 || length < ip_header + 8) return in;
    const std::uint8_t* gre = packet + ip_header;
    const std::size_t gre_length = length - ip_header;
    if (gre[2] != 0x64 || gre[3] != 0x00) return in;
    in.keyed = (gre[0] & 0x20) != 0;
    const std::size_t header = in.keyed ? 12 : 8;
    if (gre_length < header) return in;
    in.length_field = static_cast<std::uint16_t>((gre[4] << 8) | gre[5]);
    in.tunnel_id = static_cast<std::uint16_t>(gre[6] | (gre[7] << 8));
    if (in.keyed) {
        in.sequence = (std::uint32_t{gre[8]} << 24) | (std::uint32_t{gre[9]} << 16) |
                      (std::uint32_t{gre[10]} << 8) | std::uint32_t{gre[11]};
    }
    in.payload = gre + header;
    in.payload_length = gre_length - header;
    if (std::memcmp(source, peer, 4) != 0) {
        in.kind = InboundKind::foreign_source;
    } else if (in.tunnel_id != tunnel_id) {
        in.kind = InboundKind::other_tunnel;
    } else {
        in.kind = in.payload_length == 0 ? InboundKind::empty : InboundKind::frame;
    }
    return in;
}

}  // namespace tarvo::sim::hub
