// What a bridge start reads out of the orchestrator's answer and the system's
// MAC report, fallbacks included.
#include "tap_l2/bridge_addresses.h"

#include <climits>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tarvo::BootstrapResult;
using tarvo::Ipv4Address;
using tarvo::LinkInfo;
using tarvo::MacAddress;

TEST(BridgeTunnelId, LinkThenAnswerThenNodeIdPlus1000InSixteenBits) {
    struct Case {
        std::int32_t link, answer, node;
        std::uint16_t expected;
    };
    const std::vector<Case> cases =
        {
            {0, 0, 17, 1017},     {5, 9, 17, 5},     {-3, 7, 17, 7},   {0, 70000, 17, 4464},
            {70000, 0, 0, 4464},  {0, -1, 17, 1017}, {0, 0, -1000, 0}, {0, 0, -1001, 0xFFFF},
            {0, 0, INT_MAX, 999},  // wraps past 32 bits, then the low 16
        };
    for (const auto& c : cases) {
        LinkInfo link;
        link.tunnel_id = c.link;
        BootstrapResult answer;
        answer.tunnel_id = c.answer;
        answer.node_id = c.node;
        EXPECT_EQ(tarvo::derive_tunnel_id(link, answer), c.expected)
            << c.link << " " << c.answer << " " << c.node;
    }
}

TEST(BridgeAddresses, HubFromTheLinkElseTheProbesTarget) {
    LinkInfo link;
    EXPECT_EQ(tarvo::hub_address_text(link, "10.200.0.1"), "10.200.0.1");
    link.hub_ip = "";
    EXPECT_EQ(tarvo::hub_address_text(link, "10.200.0.9"), "10.200.0.9");
    link.hub_ip = "10.50.0.1";
    EXPECT_EQ(tarvo::hub_address_text(link, "10.200.0.9"), "10.50.0.1");
}

TEST(BridgeAddresses, TapFromTheLinkThenTheAnswerThenTheLocalSubnet) {
    LinkInfo link;
    BootstrapResult answer;
    EXPECT_EQ(tarvo::tap_address_text(link, answer), "");
    answer.local_subnet = "192.168.50.0/24";
    EXPECT_EQ(tarvo::tap_address_text(link, answer), "192.168.50.0/24");
    answer.tap_ip = "";
    link.tap_ip = "";
    EXPECT_EQ(tarvo::tap_address_text(link, answer), "192.168.50.0/24");
    answer.tap_ip = "10.60.0.5/24";
    EXPECT_EQ(tarvo::tap_address_text(link, answer), "10.60.0.5/24");
    link.tap_ip = "10.70.0.5/24";
    EXPECT_EQ(tarvo::tap_address_text(link, answer), "10.70.0.5/24");
}

TEST(BridgeAddresses, TunnelAddressIsCutAtTheSlashAndTrimmed) {
    const std::vector<std::pair<std::string, std::optional<Ipv4Address>>> cases = {
        {"10.200.0.7/24", Ipv4Address{{10, 200, 0, 7}}},
        {"10.200.0.7", Ipv4Address{{10, 200, 0, 7}}},
        {"  10.200.0.7 /32", Ipv4Address{{10, 200, 0, 7}}},
        {"10.200.0.7/", Ipv4Address{{10, 200, 0, 7}}},
        {"10.200.0.7/24/8", Ipv4Address{{10, 200, 0, 7}}},
        {"10.200.0.x", std::nullopt},
        {"", std::nullopt},
        {"/24", std::nullopt},
        {"10.200.0", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(tarvo::parse_tunnel_address(text), expected) << text;
    }
}

TEST(BridgeAddresses, KeepaliveSenderIsTheHostAddressUntrimmedElseTheFallback) {
    EXPECT_EQ(tarvo::keepalive_sender_address("10.1.2.77"), (Ipv4Address{{10, 1, 2, 77}}));
    EXPECT_EQ(tarvo::keepalive_sender_address(" 10.1.2.77"), tarvo::kFallbackKeepaliveSender);
    EXPECT_EQ(tarvo::keepalive_sender_address(""), tarvo::kFallbackKeepaliveSender);
    EXPECT_EQ(tarvo::keepalive_sender_address("10.0.0"), tarvo::kFallbackKeepaliveSender);
    EXPECT_EQ(tarvo::kFallbackKeepaliveSender, (Ipv4Address{{192, 168, 12, 10}}));
}

TEST(NextMacPart, EverySeparatorEndsAPieceEvenAtTheEnd) {
    auto pieces = [](std::string_view text) {
        tarvo::MacPartSplitter splitter{text};
        std::vector<std::string> out;
        while (const auto piece = tarvo::next_mac_part(splitter)) out.emplace_back(*piece);
        return out;
    };
    EXPECT_EQ(pieces(""), std::vector<std::string>{""});
    EXPECT_EQ(pieces("a-"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(pieces("a:b-c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(pieces("--"), (std::vector<std::string>{"", "", ""}));
}

TEST(MacAddressReport, SixHexPiecesElseTheFallback) {
    const MacAddress expected{0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D};
    const std::vector<std::pair<std::string, MacAddress>> cases = {
        {"00-FF-5A-1B-2C-3D\r\n", expected},
        {"00:ff:5a:1b:2c:3d", expected},
        {"  00:ff-5a:1b-2c:3d  ", expected},
        {"+00-+FF-5A-1B-2C-3D", expected},
        {"0-00FF-5a-1b-2c-3d", expected},  // leading zeros
        {"", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-3D-", tarvo::kFallbackTapMac},  // a seventh, empty piece
        {"00-FF-5A-1B-2C", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-GG", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B--3D", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-100", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-+", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C--3", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-0x3", tarvo::kFallbackTapMac},
        {"00-FF-5A-1B-2C-3 D", tarvo::kFallbackTapMac},
        {"Get-NetAdapter : No MSFT_NetAdapter objects found", tarvo::kFallbackTapMac},
    };
    for (const auto& [text, mac] : cases) EXPECT_EQ(tarvo::parse_mac_address(text), mac) << text;
    EXPECT_EQ(tarvo::kFallbackTapMac, (MacAddress{0x02, 0, 0, 0, 0, 0x01}));
}

}  // namespace
