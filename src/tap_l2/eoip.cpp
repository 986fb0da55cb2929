#include "tap_l2/eoip.h"

#include <algorithm>

namespace tarvo {

namespace {

constexpr std::uint8_t kKeyBit = 0x20;
constexpr std::uint8_t kGreVersion = 0x01;
constexpr std::uint8_t kProtocolHigh = 0x64;
constexpr std::uint8_t kProtocolLow = 0x00;
constexpr std::size_t kShortestAccepted = 21;
constexpr std::size_t kGreHeaderWithoutKey = 8;

void put_big_endian16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}

}  // namespace

void write_eoip_header(std::span<std::uint8_t, kEoipHeaderSize> out, const EoipHeader& header) {
    out[0] = kKeyBit;
    out[1] = kGreVersion;
    out[2] = kProtocolHigh;
    out[3] = kProtocolLow;
    put_big_endian16(&out[4], header.payload_length);
    out[6] = static_cast<std::uint8_t>(header.tunnel_id);
    out[7] = static_cast<std::uint8_t>(header.tunnel_id >> 8);
    out[8] = static_cast<std::uint8_t>(header.sequence >> 24);
    out[9] = static_cast<std::uint8_t>(header.sequence >> 16);
    out[10] = static_cast<std::uint8_t>(header.sequence >> 8);
    out[11] = static_cast<std::uint8_t>(header.sequence);
}

void build_eoip_header(std::span<std::uint8_t, kEoipHeaderSize> out, std::uint16_t tunnel_id,
                       std::uint16_t payload_length, SequenceCounter& sequence) {
    write_eoip_header(out, {payload_length, tunnel_id, sequence.fetch_add(1)});
}

std::size_t frame_datagram(std::span<std::uint8_t, kFrameDatagramCapacity> datagram, std::size_t frame_length,
                           std::uint16_t tunnel_id, SequenceCounter& sequence) {
    if (frame_length == 0 || frame_length > kMaxFrameSize) return 0;
    build_eoip_header(datagram.first<kEoipHeaderSize>(), tunnel_id, static_cast<std::uint16_t>(frame_length),
                      sequence);
    return kEoipHeaderSize + frame_length;
}

std::array<std::uint8_t, kEoipHeaderSize> build_keepalive_answer(std::uint16_t tunnel_id,
                                                                 SequenceCounter& sequence) {
    std::array<std::uint8_t, kEoipHeaderSize> answer{};
    build_eoip_header(answer, tunnel_id, 0, sequence);
    return answer;
}

std::array<std::uint8_t, kArpKeepaliveFrameSize> build_arp_keepalive_frame(const MacAddress& tap_mac,
                                                                           const Ipv4Address& sender) {
    std::array<std::uint8_t, kArpKeepaliveFrameSize> frame{};
    std::fill_n(frame.begin(), 6, 0xFF);                   // broadcast
    std::copy(tap_mac.begin(), tap_mac.end(), &frame[6]);  // source MAC
    put_big_endian16(&frame[12], 0x0806);                  // ARP
    put_big_endian16(&frame[14], 1);                       // Ethernet
    put_big_endian16(&frame[16], 0x0800);                  // IPv4
    frame[18] = 6;
    frame[19] = 4;
    put_big_endian16(&frame[20], 1);  // request
    std::copy(tap_mac.begin(), tap_mac.end(), &frame[22]);
    std::copy(sender.octets.begin(), sender.octets.end(), &frame[28]);
    // Target MAC (32-37) stays zero; the target is .2 of the sender's /24.
    std::copy_n(sender.octets.begin(), 3, &frame[38]);
    frame[41] = 2;
    return frame;
}

Expected<std::span<const std::uint8_t>, DatagramDrop> accept_datagram(std::span<const std::uint8_t> packet,
                                                                      const Ipv4Address& source,
                                                                      const Ipv4Address& hub,
                                                                      std::uint16_t tunnel_id) {
    if (packet.size() < kShortestAccepted) return unexpected(DatagramDrop::too_short);
    if (source != hub) return unexpected(DatagramDrop::foreign_source);
    const std::size_t ip_header_length = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (packet.size() < ip_header_length + kGreHeaderWithoutKey)
        return unexpected(DatagramDrop::no_gre_header);
    const auto gre = packet.subspan(ip_header_length);
    if (gre[2] != kProtocolHigh || gre[3] != kProtocolLow) return unexpected(DatagramDrop::not_eoip);
    const std::size_t gre_header_length = (gre[0] & kKeyBit) ? kEoipHeaderSize : kGreHeaderWithoutKey;
    if (gre.size() < gre_header_length) return unexpected(DatagramDrop::short_gre_header);
    const auto received_tunnel = static_cast<std::uint16_t>(gre[6] | (gre[7] << 8));
    if (received_tunnel != tunnel_id) return unexpected(DatagramDrop::other_tunnel);
    return gre.subspan(gre_header_length);
}

}  // namespace tarvo
