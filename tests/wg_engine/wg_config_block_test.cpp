#include "wg_engine/wg_config_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/wg_start_inputs.h"

namespace tarvo {
namespace {

// The expected block, written from the published offsets by hand rather than
// from the layout constants the builder uses.
std::vector<std::uint8_t> expected_header(std::size_t size, const WgKey& own, const WgKey& hub,
                                          std::uint8_t count) {
    std::vector<std::uint8_t> b(size, 0);
    b[0] = 10;  // has private key + replace peers
    for (std::size_t i = 0; i < 32; ++i) b[6 + i] = own[i];
    b[72] = 1;   // one peer
    b[80] = 45;  // public key + keepalive + endpoint + replace allowed IPs
    for (std::size_t i = 0; i < 32; ++i) b[88 + i] = hub[i];
    b[152] = 15;    // keepalive seconds
    b[156] = 2;     // AF_INET
    b[158] = 0xCA;  // port 51820, network byte order
    b[159] = 0x6C;
    b[160] = 192;
    b[161] = 0;
    b[162] = 2;
    b[163] = 10;
    b[208] = count;
    return b;
}

TEST(WgConfigBlock, TwoAllowedIpsGiveEveryByteOf264) {
    const WgKey own = testing::counting_key(1);
    const WgKey hub = testing::counting_key(0xA0);
    const Ipv4Cidr allowed[] = {{{10, 200, 0, 0}, 24}, {{10, 254, 0, 0}, 16}};
    const auto block = build_wg_config_block(own, hub, {{192, 0, 2, 10}, 51820}, allowed);

    auto expected = expected_header(264, own, hub, 2);
    expected[216] = 10;
    expected[217] = 200;
    expected[232] = 2;  // AF_INET
    expected[234] = 24;
    expected[240] = 10;
    expected[241] = 254;
    expected[256] = 2;
    expected[258] = 16;
    EXPECT_EQ(block, expected);
}

TEST(WgConfigBlock, NoAllowedIpsGive216BytesWithCountZero) {
    const WgKey own = testing::counting_key(7);
    const WgKey hub = testing::counting_key(0x40);
    const auto block = build_wg_config_block(own, hub, {{192, 0, 2, 10}, 51820}, {});
    EXPECT_EQ(block, expected_header(216, own, hub, 0));
}

TEST(WgConfigBlock, EqualAllowedIpsAreKeptApart) {
    const Ipv4Cidr twice[] = {{{10, 1, 0, 0}, 16}, {{10, 1, 0, 0}, 16}};
    const auto block = build_wg_config_block({}, {}, {}, twice);
    ASSERT_EQ(block.size(), 264u);
    EXPECT_EQ(block[208], 2);
    EXPECT_EQ(block[240], 10);
    EXPECT_EQ(block[258], 16);
}

TEST(WgConfigBlock, TrafficIsReadLittleEndianFromAWholePeer) {
    std::vector<std::uint8_t> block(216, 0);
    for (std::size_t i = 0; i < 8; ++i) {
        block[184 + i] = static_cast<std::uint8_t>(0x11 * (i + 1));
        block[192 + i] = static_cast<std::uint8_t>(0x80 + i);
    }
    const auto traffic = read_first_peer_traffic(block);
    ASSERT_TRUE(traffic);
    EXPECT_EQ(traffic->transmitted, 0x8877665544332211u);
    EXPECT_EQ(traffic->received, 0x8786858483828180u);
}

TEST(WgConfigBlock, ABlockOf215BytesOrLessIsNotRead) {
    EXPECT_FALSE(read_first_peer_traffic(std::vector<std::uint8_t>(215, 0xFF)));
    EXPECT_FALSE(read_first_peer_traffic({}));
}

}  // namespace
}  // namespace tarvo
