// The EoIP wire format as the hub reads and writes it: header bytes, the
// keepalive frames, and which received packets reach the TAP device.
#include "tap_l2/eoip.h"

#include <algorithm>
#include <set>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using tarvo::DatagramDrop;
using tarvo::Ipv4Address;
using tarvo::SequenceCounter;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

Bytes to_bytes(std::span<const std::uint8_t> span) { return Bytes(span.begin(), span.end()); }

TEST(EoipHeader, CarriesLengthBigEndianTunnelIdLittleEndianAndTakesTheNextSequenceNumber) {
    SequenceCounter sequence{7};
    std::array<std::uint8_t, tarvo::kEoipHeaderSize> header{};
    tarvo::build_eoip_header(header, 0x0102, 60, sequence);
    EXPECT_THAT(header, ElementsAre(0x20, 0x01, 0x64, 0x00, 0x00, 0x3C, 0x02, 0x01, 0x00, 0x00, 0x00, 0x07));
    EXPECT_EQ(sequence.load(), 8u);

    tarvo::build_eoip_header(header, 1000, 0x1234, sequence);
    EXPECT_THAT(header, ElementsAre(0x20, 0x01, 0x64, 0x00, 0x12, 0x34, 0xE8, 0x03, 0x00, 0x00, 0x00, 0x08));
}

TEST(EoipHeader, SequenceWrapsFromTheLargestValueToZero) {
    SequenceCounter sequence{0xFFFFFFFFu};
    std::array<std::uint8_t, tarvo::kEoipHeaderSize> header{};
    tarvo::build_eoip_header(header, 1, 0, sequence);
    EXPECT_THAT(std::span(header).subspan(8), ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
    tarvo::build_eoip_header(header, 1, 0, sequence);
    EXPECT_THAT(std::span(header).subspan(8), ElementsAre(0x00, 0x00, 0x00, 0x00));
    EXPECT_EQ(sequence.load(), 1u);
}

TEST(EoipHeader, ThreadsSharingOneCounterNeverSendTheSameNumber) {
    SequenceCounter sequence{tarvo::kFirstSequenceNumber};
    constexpr int kThreads = 3;
    constexpr int kHeadersEach = 20000;
    std::vector<std::vector<std::uint32_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::array<std::uint8_t, tarvo::kEoipHeaderSize> header{};
            for (int i = 0; i < kHeadersEach; ++i) {
                tarvo::build_eoip_header(header, 5, 42, sequence);
                seen[t].push_back(std::uint32_t{header[8]} << 24 | std::uint32_t{header[9]} << 16 |
                                  std::uint32_t{header[10]} << 8 | header[11]);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    std::set<std::uint32_t> all;
    for (const auto& numbers : seen) all.insert(numbers.begin(), numbers.end());
    ASSERT_EQ(all.size(), std::size_t{kThreads * kHeadersEach});
    EXPECT_EQ(*all.begin(), 1u);
    EXPECT_EQ(*all.rbegin(), std::uint32_t{kThreads * kHeadersEach});
}

TEST(FrameDatagram, PutsTheHeaderInFrontOfTheFrameAndCountsOnlyRealFrames) {
    std::array<std::uint8_t, tarvo::kFrameDatagramCapacity> datagram{};
    for (std::size_t i = 0; i < 60; ++i) datagram[tarvo::kEoipHeaderSize + i] = static_cast<std::uint8_t>(i);
    SequenceCounter sequence{1};

    ASSERT_EQ(tarvo::frame_datagram(datagram, 60, 0x0102, sequence), 72u);
    EXPECT_THAT(std::span(datagram).first(12),
                ElementsAre(0x20, 0x01, 0x64, 0x00, 0x00, 0x3C, 0x02, 0x01, 0x00, 0x00, 0x00, 0x01));
    EXPECT_EQ(datagram[12], 0);
    EXPECT_EQ(datagram[71], 59);

    ASSERT_EQ(tarvo::frame_datagram(datagram, tarvo::kMaxFrameSize, 9, sequence), 2060u);
    EXPECT_EQ(datagram[4], 0x08);
    EXPECT_EQ(datagram[5], 0x00);
    EXPECT_EQ(sequence.load(), 3u);

    // A read that gave nothing, or more than a frame can be, sends nothing
    // and takes no sequence number.
    EXPECT_EQ(tarvo::frame_datagram(datagram, 0, 9, sequence), 0u);
    EXPECT_EQ(tarvo::frame_datagram(datagram, tarvo::kMaxFrameSize + 1, 9, sequence), 0u);
    EXPECT_EQ(sequence.load(), 3u);
}

TEST(KeepaliveAnswer, IsABareTwelveByteHeaderWithTheNextSequenceNumber) {
    SequenceCounter sequence{0x01020304};
    const auto answer = tarvo::build_keepalive_answer(1000, sequence);
    EXPECT_THAT(answer, ElementsAre(0x20, 0x01, 0x64, 0x00, 0x00, 0x00, 0xE8, 0x03, 0x01, 0x02, 0x03, 0x04));
    EXPECT_EQ(sequence.load(), 0x01020305u);
}

TEST(ArpKeepalive, AsksForHostTwoOfTheSendersSubnet) {
    const tarvo::MacAddress mac{0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D};
    const auto frame = tarvo::build_arp_keepalive_frame(mac, Ipv4Address{{10, 1, 2, 77}});
    EXPECT_THAT(frame, ElementsAreArray<std::uint8_t>({
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // broadcast
                           0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D,  // source MAC
                           0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04,
                           0x00, 0x01, 0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D,  // sender MAC
                           10,   1,    2,    77,                            // sender IPv4
                           0,    0,    0,    0,    0,    0,                 // target MAC
                           10,   1,    2,    2,                             // target IPv4
                       }));

    const auto fallback = tarvo::build_arp_keepalive_frame({0x02, 0, 0, 0, 0, 0x01},
                                                           Ipv4Address{{192, 168, 12, 10}});
    EXPECT_THAT(std::span(fallback).subspan(28, 4), ElementsAre(192, 168, 12, 10));
    EXPECT_THAT(std::span(fallback).subspan(38, 4), ElementsAre(192, 168, 12, 2));
}

// --- acceptance of received packets ---

const Ipv4Address kHub{{10, 200, 0, 1}};
constexpr std::uint16_t kTunnel = 1000;

// An IPv4 header of `ihl` words (protocol 47), then the given GRE bytes.
Bytes ip_packet(const Bytes& gre, std::uint8_t ihl = 5) {
    const std::size_t header_length = std::size_t{ihl} * 4;
    Bytes packet(header_length + gre.size(), 0);
    packet[0] = static_cast<std::uint8_t>(0x40 | ihl);
    packet[9] = 47;
    std::copy(gre.begin(), gre.end(), packet.begin() + static_cast<std::ptrdiff_t>(header_length));
    return packet;
}

Bytes eoip(const Bytes& payload, std::uint8_t flags = 0x20, Bytes tunnel = {0xE8, 0x03},
           Bytes protocol = {0x64, 0x00}, Bytes length = {}) {
    if (length.empty()) length = {0x00, static_cast<std::uint8_t>(payload.size())};
    const std::size_t header_length = (flags & 0x20) ? 12 : 8;
    Bytes gre(header_length + payload.size(), 0);
    const std::uint8_t header[12] = {flags,     0x01,      protocol[0], protocol[1], length[0], length[1],
                                     tunnel[0], tunnel[1], 0,           0,           0,         9};
    std::copy_n(header, header_length, gre.begin());
    std::copy(payload.begin(), payload.end(), gre.begin() + static_cast<std::ptrdiff_t>(header_length));
    return gre;
}

struct AcceptanceCase {
    const char* name;
    Bytes packet;
    Ipv4Address source;
    std::optional<DatagramDrop> drop;  // none: accepted with `payload`
    Bytes payload;
};

TEST(AcceptDatagram, TableOfReceivedPackets) {
    const Bytes frame{0xAA, 0xBB, 0xCC, 0xDD};
    Bytes twenty(20, 0);
    twenty[0] = 0x45;
    Bytes twenty_one(21, 0);
    twenty_one[0] = 0x45;
    const Bytes gre_without_key{0x00, 0x01, 0x64, 0x00, 0x00, 0x04, 0xE8, 0x03};

    const std::vector<AcceptanceCase> cases = {
        {"a 12-byte header and a frame", ip_packet(eoip(frame)), kHub, std::nullopt, frame},
        {"20 bytes", twenty, kHub, DatagramDrop::too_short, {}},
        {"21 bytes pass the size test but hold no GRE header",
         twenty_one,
         kHub,
         DatagramDrop::no_gre_header,
         {}},
        {"another source with the right tunnel id",
         ip_packet(eoip(frame)),
         Ipv4Address{{10, 200, 0, 2}},
         DatagramDrop::foreign_source,
         {}},
        {"protocol type 0x0800",
         ip_packet(eoip(frame, 0x20, {0xE8, 0x03}, {0x08, 0x00})),
         kHub,
         DatagramDrop::not_eoip,
         {}},
        {"protocol bytes swapped",
         ip_packet(eoip(frame, 0x20, {0xE8, 0x03}, {0x00, 0x64})),
         kHub,
         DatagramDrop::not_eoip,
         {}},
        {"without the key bit the header is 8 bytes", ip_packet(eoip(frame, 0x00)), kHub, std::nullopt,
         frame},
        {"a bare 8-byte header without the key bit is a keepalive",
         ip_packet(gre_without_key),
         kHub,
         std::nullopt,
         {}},
        {"the key bit in an 8-byte GRE part",
         ip_packet(Bytes{0x20, 0x01, 0x64, 0x00, 0x00, 0x00, 0xE8, 0x03}),
         kHub,
         DatagramDrop::short_gre_header,
         {}},
        {"a length field that says more is ignored",
         ip_packet(eoip(frame, 0x20, {0xE8, 0x03}, {0x64, 0x00}, {0x05, 0xDC})), kHub, std::nullopt, frame},
        {"a length field of 0 is ignored",
         ip_packet(eoip(frame, 0x20, {0xE8, 0x03}, {0x64, 0x00}, {0x00, 0x00})), kHub, std::nullopt, frame},
        {"tunnel id in network order",
         ip_packet(eoip(frame, 0x20, {0x03, 0xE8})),
         kHub,
         DatagramDrop::other_tunnel,
         {}},
        {"an empty payload", ip_packet(eoip({})), kHub, std::nullopt, {}},
        {"IPv4 options move the GRE header", ip_packet(eoip(frame), 6), kHub, std::nullopt, frame},
    };
    for (const auto& c : cases) {
        const auto result = tarvo::accept_datagram(c.packet, c.source, kHub, kTunnel);
        if (c.drop) {
            ASSERT_FALSE(result.has_value()) << c.name;
            EXPECT_EQ(result.error(), *c.drop) << c.name;
        } else {
            ASSERT_TRUE(result.has_value()) << c.name << ": dropped as " << static_cast<int>(result.error());
            EXPECT_EQ(to_bytes(*result), c.payload) << c.name;
        }
    }
}

}  // namespace
