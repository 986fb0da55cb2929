// EoIP datagrams written out byte by byte in the tests, never by the code
// under test, so a mistake in the framing cannot hide on both sides.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarvo::testing {

// Key bit set, protocol 0x6400, the frame's length, the tunnel id as its two
// bytes on the wire (1000 little-endian by default), then the sequence.
inline std::vector<std::uint8_t> hand_built_eoip_datagram(const std::vector<std::uint8_t>& frame,
                                                          std::uint32_t sequence,
                                                          std::uint8_t tunnel_low = 0xE8,
                                                          std::uint8_t tunnel_high = 0x03) {
    std::vector<std::uint8_t> datagram{0x20,
                                       0x01,
                                       0x64,
                                       0x00,
                                       static_cast<std::uint8_t>(frame.size() >> 8),
                                       static_cast<std::uint8_t>(frame.size()),
                                       tunnel_low,
                                       tunnel_high,
                                       static_cast<std::uint8_t>(sequence >> 24),
                                       static_cast<std::uint8_t>(sequence >> 16),
                                       static_cast<std::uint8_t>(sequence >> 8),
                                       static_cast<std::uint8_t>(sequence)};
    datagram.resize(12 + frame.size());
    std::copy(frame.begin(), frame.end(), datagram.begin() + 12);
    return datagram;
}

}  // namespace tarvo::testing
