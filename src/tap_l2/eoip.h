// EoIP in GRE on the wire: the 12-byte header put in front of every frame sent
// to the hub, the ARP keepalive frame, and the tests a received IPv4 packet
// must pass before its payload reaches the TAP device.
//
// Header (offsets from the first byte after the IPv4 header):
//   0     0x20, GRE flags with the key bit
//   1     0x01, GRE version 1
//   2-3   0x64 0x00, protocol type
//   4-5   payload length, big-endian
//   6-7   tunnel id, little-endian (the hub's byte order, not network order)
//   8-11  sequence number, big-endian
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "util/expected.h"
#include "util/ipv4_address.h"

namespace tarvo {

inline constexpr std::size_t kEoipHeaderSize = 12;
// The largest frame one TAP read takes and the largest packet one receive
// takes; anything longer is not a frame of this bridge.
inline constexpr std::size_t kMaxFrameSize = 2048;
inline constexpr std::size_t kFrameDatagramCapacity = kEoipHeaderSize + kMaxFrameSize;
inline constexpr std::size_t kArpKeepaliveFrameSize = 42;
inline constexpr std::size_t kArpKeepaliveDatagramSize = kEoipHeaderSize + kArpKeepaliveFrameSize;

// One counter per bridge start, shared by its three threads: every header
// built takes the value before an atomic increment, so no two datagrams of a
// start carry the same number until it wraps from 0xFFFFFFFF to 0.
using SequenceCounter = std::atomic<std::uint32_t>;
inline constexpr std::uint32_t kFirstSequenceNumber = 1;

using MacAddress = std::array<std::uint8_t, 6>;

struct EoipHeader {
    std::uint16_t payload_length = 0;
    std::uint16_t tunnel_id = 0;
    std::uint32_t sequence = 0;
};

void write_eoip_header(std::span<std::uint8_t, kEoipHeaderSize> out, const EoipHeader& header);

// Writes the header for a payload of `payload_length` bytes, taking the next
// sequence number from `sequence`.
void build_eoip_header(std::span<std::uint8_t, kEoipHeaderSize> out, std::uint16_t tunnel_id,
                       std::uint16_t payload_length, SequenceCounter& sequence);

// The datagram for one frame that a TAP read placed right after the header
// room (at offset 12) of `datagram`: writes the header in front of it and
// returns the datagram's length. A read of 0 bytes, or of more than fits,
// gives 0: nothing is sent and no sequence number is taken.
std::size_t frame_datagram(std::span<std::uint8_t, kFrameDatagramCapacity> datagram, std::size_t frame_length,
                           std::uint16_t tunnel_id, SequenceCounter& sequence);

// The bare header that answers a matching datagram with an empty payload.
std::array<std::uint8_t, kEoipHeaderSize> build_keepalive_answer(std::uint16_t tunnel_id,
                                                                 SequenceCounter& sequence);

// A broadcast ARP request from `tap_mac` and `sender`, asking for the host .2
// of the sender's /24.
std::array<std::uint8_t, kArpKeepaliveFrameSize> build_arp_keepalive_frame(const MacAddress& tap_mac,
                                                                           const Ipv4Address& sender);

// Why a received packet was dropped, in the order the tests run.
enum class DatagramDrop {
    too_short,         // fewer than 21 bytes
    foreign_source,    // not from the hub
    no_gre_header,     // fewer than the IPv4 header's length plus 8 bytes
    not_eoip,          // GRE protocol type other than 0x6400
    short_gre_header,  // shorter than its own header (12 bytes with the key bit, else 8)
    other_tunnel,      // another tunnel id
};

// Applies the acceptance tests to a whole received IPv4 packet and its source
// address. The result is the payload after the GRE header (possibly empty: a
// keepalive to answer), a view into `packet`. The header's length and
// sequence fields are not read.
Expected<std::span<const std::uint8_t>, DatagramDrop> accept_datagram(std::span<const std::uint8_t> packet,
                                                                      const Ipv4Address& source,
                                                                      const Ipv4Address& hub,
                                                                      std::uint16_t tunnel_id);

}  // namespace tarvo
