// The hub's own reading and writing of EoIP in GRE, kept apart from the
// client's framing code on purpose: the simulated hub checks the client
// against the wire format itself, so a mistake made on one side shows.
//
// GRE part of an EoIP packet: flags (0x20 = key present, then 12 bytes, else
// 8), version 1, protocol 0x6400, payload length (big-endian), tunnel id
// (little-endian), and with the key a 32-bit big-endian sequence number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::sim::hub {

inline constexpr std::size_t kHubHeaderLength = 12;

// Writes the 12-byte header the hub sends.
void write_hub_header(std::uint8_t* out, std::uint16_t payload_length, std::uint16_t tunnel_id,
                      std::uint32_t sequence);

enum class InboundKind {
    frame,           // a payload for the TAP
    empty,           // no payload: to be answered with a bare header
    not_eoip,        // not IPv4 protocol 47 carrying GRE type 0x6400, or cut short
    foreign_source,  // not from the configured peer
    other_tunnel,    // EoIP from the peer, for another tunnel id
};

struct Inbound {
    InboundKind kind = InboundKind::not_eoip;
    const std::uint8_t* payload = nullptr;
    std::size_t payload_length = 0;
    std::uint16_t tunnel_id = 0;
    std::uint16_t length_field = 0;
    bool keyed = false;  // 12-byte header with a sequence number
    std::uint32_t sequence = 0;
};

// Reads one whole received IPv4 packet. `source` and `peer` are the four
// address bytes in wire order.
Inbound read_inbound(const std::uint8_t* packet, std::size_t length, const std::uint8_t* source,
                     const std::uint8_t* peer, std::uint16_t tunnel_id);

}  // namespace tarvo::sim::hub
