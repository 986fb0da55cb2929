// The wireguard.dll stand-in's reading of configuration blocks and of
// wireguard-go's UAPI answers.
#include "config_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "wg_engine/wg_config_block.h"

namespace tarvo::standins {
namespace {

WgKey key_of(std::uint8_t byte) {
    WgKey key{};
    key.fill(byte);
    return key;
}

std::vector<std::uint8_t> client_block(std::vector<Ipv4Cidr> allowed) {
    return build_wg_config_block(key_of(0x11), key_of(0xAB), {{192, 0, 2, 1}, 51820}, allowed);
}

TEST(WireguardStandinBlock, TheClientsBlockBecomesOneUapiSet) {
    const auto config = read_config_block(client_block({{{10, 200, 0, 0}, 24}, {{198, 51, 100, 0}, 24}}));
    ASSERT_TRUE(config) << config.error();
    EXPECT_EQ(
        uapi_set_request(*config),
        "set=1\n"
        "private_key=" +
            std::string(64, '1') +
            "\n"
            "replace_peers=true\n"
            "public_key=" +
            [] {
                std::string s;
                for (int i = 0; i < 32; ++i) s += "ab";
                return s;
            }() +
            "\n"
            "endpoint=192.0.2.1:51820\n"
            "persistent_keepalive_interval=15\n"
            "replace_allowed_ips=true\n"
            "allowed_ip=10.200.0.0/24\n"
            "allowed_ip=198.51.100.0/24\n"
            "\n");
}

TEST(WireguardStandinBlock, MalformedBlocksAreRefused) {
    const auto good = client_block({{{10, 0, 0, 0}, 8}});
    const struct {
        const char* what;
        std::size_t offset;  // byte to change; SIZE_MAX: cut one byte off; SIZE_MAX-1: add one
        std::uint8_t value;
    } rows[] = {
        {"one byte short", SIZE_MAX, 0},
        {"one byte over", SIZE_MAX - 1, 0},
        {"unknown interface flag", 0, 10 | 0x40},
        {"two peers announced", 72, 2},
        {"no peer announced", 72, 0},
        {"peer without public key", 80, 44},
        {"unknown peer flag", 80, 45 | 0x80},
        {"endpoint not AF_INET", 156, 23},
        {"two allowed IPs announced", 208, 2},
        {"allowed IP not AF_INET", 232, 23},
        {"prefix above 32", 234, 33},
    };
    for (const auto& row : rows) {
        auto block = good;
        if (row.offset == SIZE_MAX) block.pop_back();
        else if (row.offset == SIZE_MAX - 1) block.push_back(0);
        else block[row.offset] = row.value;
        EXPECT_FALSE(read_config_block(block)) << row.what;
    }
    EXPECT_FALSE(read_config_block(std::vector<std::uint8_t>(79, 0)));
    EXPECT_TRUE(read_config_block(good));
}

TEST(WireguardStandinBlock, AUapiAnswerIsReportedInTheLayoutWithItsCounters) {
    const std::string reply = "private_key=" + std::string(64, '1') +
                              "\nlisten_port=44658\n"
                              "public_key=" +
                              std::string(64, 'a') + "\npreshared_key=" + std::string(64, '0') +
                              "\n"
                              "protocol_version=1\nendpoint=192.0.2.1:51820\n"
                              "last_handshake_time_sec=1796905633\nlast_handshake_time_nsec=500\n"
                              "tx_bytes=180\nrx_bytes=92\npersistent_keepalive_interval=15\n"
                              "allowed_ip=10.200.0.0/24\nallowed_ip=2001:db8::/32\nerrno=0\n\n";
    const auto config = read_uapi_get_reply(reply);
    ASSERT_TRUE(config) << config.error();
    const auto block = write_config_block(*config);
    ASSERT_EQ(block.size(), 240u);  // one IPv4 allowed IP; the IPv6 one has no place here
    const auto traffic = read_first_peer_traffic(block);
    ASSERT_TRUE(traffic);
    EXPECT_EQ(*traffic, (WgPeerTraffic{180, 92}));
    // And it reads back as a block.
    const auto again = read_config_block(block);
    ASSERT_TRUE(again) << again.error();
    EXPECT_EQ(again->peers.at(0).endpoint_port, 51820);
    EXPECT_EQ(again->peers.at(0).keepalive, 15);
    EXPECT_EQ(config->peers.at(0).last_handshake, (1796905633ull + 11644473600ull) * 10000000ull + 5);

    EXPECT_FALSE(read_uapi_get_reply("errno=-22\n\n"));
    EXPECT_FALSE(read_uapi_get_reply("listen_port=1\n"));
    EXPECT_FALSE(read_uapi_get_reply("public_key=xyz\nerrno=0\n\n"));
}

}  // namespace
}  // namespace tarvo::standins
