// One exchange of EoIP datagrams between two GRE sockets, checked the same
// way against the system's sockets and against the in-process double.
#pragma once

#include <array>
#include <chrono>
#include <span>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gre_socket.h"
#include "support/waiting.h"

namespace tarvo::testing {

inline std::vector<std::uint8_t> sample_eoip_datagram(std::uint8_t fill, std::size_t frame_length) {
    std::vector<std::uint8_t> datagram{0x20,
                                       0x01,
                                       0x64,
                                       0x00,
                                       static_cast<std::uint8_t>(frame_length >> 8),
                                       static_cast<std::uint8_t>(frame_length),
                                       0xE8,
                                       0x03,
                                       0,
                                       0,
                                       0,
                                       1};
    datagram.resize(12 + frame_length, fill);
    return datagram;
}

// The next packet `socket` receives, awaited as long as a test waits for
// anything; the packet ends the wait as soon as it is there.
inline Expected<platform::ReceivedPacket, platform::SocketFailure> receive_awaited(
    platform::GreSocket& socket, std::span<std::uint8_t> buffer) {
    return socket.receive_from(buffer, std::chrono::duration_cast<std::chrono::milliseconds>(kPatience));
}

// `from` sends to `to_address`; `to` receives the whole IPv4 packet.
inline void expect_datagram_crosses(platform::GreSocket& from, const Ipv4Address& from_address,
                                    platform::GreSocket& to, const Ipv4Address& to_address,
                                    std::uint8_t fill) {
    const auto datagram = sample_eoip_datagram(fill, 60);
    ASSERT_TRUE(from.send_to(datagram, to_address).has_value());

    std::array<std::uint8_t, 2048> buffer{};
    const auto received = receive_awaited(to, buffer);
    ASSERT_TRUE(received.has_value()) << received.error().code;
    const std::size_t header_length = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
    EXPECT_EQ(received->source, from_address);
    EXPECT_EQ(buffer[0] >> 4, 4);
    EXPECT_EQ(buffer[9], 47);  // protocol GRE
    EXPECT_EQ(buffer[6] & 0x40, 0) << "don't-fragment must never be set";
    ASSERT_EQ(received->length, header_length + datagram.size());
    EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(header_length),
                                        buffer.begin() + static_cast<std::ptrdiff_t>(received->length)),
              datagram);
}

}  // namespace tarvo::testing
