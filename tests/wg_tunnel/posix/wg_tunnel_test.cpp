// The engine brings up a real tunnel from a client namespace to a hub
// namespace through the linux wireguard.dll stand-in (wireguard-go) and the
// wintools stand-in, and close_wg_engine takes it all down again.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "support/helper_programs.h"
#include "support/wg_tunnel_lab.h"

namespace tarvo {
namespace {

struct Traffic {
    unsigned long long transmitted = 0;
    unsigned long long received = 0;
};

std::optional<Traffic> ask_traffic(testing::PipedChild& client) {
    client.send_line("traffic");
    const auto line = client.read_line();
    Traffic t;
    std::string word;
    std::istringstream in(line.value_or(""));
    if (!(in >> word >> t.transmitted >> t.received) || word != "traffic") return std::nullopt;
    return t;
}

bool starts_with(const std::optional<std::string>& line, const std::string& prefix) {
    return line && line->rfind(prefix, 0) == 0;
}

void expect_ping_answered(const std::string& ns, const std::string& address) {
    const auto answered = testing::WgTunnelLab::ping_answered(ns, address);
    EXPECT_TRUE(answered) << answered.report;
}

TEST(WgTunnel, HandshakePingBothWaysCountersGrowAndCloseRemovesEverything) {
    if (const auto why = testing::WgTunnelLab::unavailable()) GTEST_SKIP() << *why;
    testing::WgTunnelLab lab(TARVO_WINTOOLS_STANDIN);
    ASSERT_TRUE(lab.ready()) << lab.error();
    ASSERT_TRUE(lab.start_client(testing::helper_program("wg_engine_child")));
    auto& client = lab.client();

    const auto started = client.read_line();
    ASSERT_TRUE(starts_with(started, "started ")) << started.value_or("(nothing)");
    const auto handshake = client.read_line();
    ASSERT_TRUE(starts_with(handshake, "handshake ")) << handshake.value_or("(nothing)");

    // The wintools stand-in gave the adapter its address, MTU and route.
    EXPECT_NE(lab.in_client("ip -4 addr show dev tarvo-client").find("198.51.100.2/32"), std::string::npos);
    EXPECT_NE(lab.in_client("ip link show dev tarvo-client").find("mtu 1420"), std::string::npos);
    const std::string route = lab.in_client("ip route show 198.51.100.0/24");
    EXPECT_NE(route.find("dev tarvo-client"), std::string::npos) << route;
    EXPECT_NE(route.find("metric 5"), std::string::npos) << route;

    const auto before = ask_traffic(client);
    ASSERT_TRUE(before);
    expect_ping_answered(lab.client_ns(), testing::kHubTunnelAddress);
    expect_ping_answered(lab.hub_ns(), testing::kClientTunnelAddress);
    const auto after = ask_traffic(client);
    ASSERT_TRUE(after);
    EXPECT_GT(after->transmitted, before->transmitted);
    EXPECT_GT(after->received, before->received);

    client.send_line("close");
    const auto closed = client.read_line();
    ASSERT_TRUE(starts_with(closed, "closed ")) << closed.value_or("(nothing)");
    const auto gone = lab.adapter_gone();
    EXPECT_TRUE(gone) << gone.report;
}

TEST(WgTunnel, AnAdapterLeftByACrashedRunIsReplaced) {
    if (const auto why = testing::WgTunnelLab::unavailable()) GTEST_SKIP() << *why;
    testing::WgTunnelLab lab(TARVO_WINTOOLS_STANDIN);
    ASSERT_TRUE(lab.ready()) << lab.error();
    ASSERT_TRUE(lab.start_leftover_adapter());
    ASSERT_TRUE(lab.start_client(testing::helper_program("wg_engine_child")));

    const auto started = lab.client().read_line();
    ASSERT_TRUE(starts_with(started, "started ")) << started.value_or("(nothing)");
    const auto ended = lab.leftover_ended();
    EXPECT_TRUE(ended) << ended.report;
    const auto handshake = lab.client().read_line();
    EXPECT_TRUE(starts_with(handshake, "handshake ")) << handshake.value_or("(nothing)");
    expect_ping_answered(lab.client_ns(), testing::kHubTunnelAddress);
}

TEST(WgTunnel, WithoutWireguardGoTheAdapterIsNotCreated) {
    if (const auto why = testing::WgTunnelLab::unavailable()) GTEST_SKIP() << *why;
    testing::WgTunnelLab lab(TARVO_WINTOOLS_STANDIN);
    ASSERT_TRUE(lab.ready()) << lab.error();
    ASSERT_TRUE(lab.start_client(testing::helper_program("wg_engine_child"), "PATH=/nonexistent"));
    const auto line = lab.client().read_line();
    EXPECT_EQ(line, "failed WireGuardCreateAdapter zwrócił NULL (uruchom program jako Administrator)");
    EXPECT_EQ(lab.in_client("ip -o link show").find("tarvo-client"), std::string::npos);
}

}  // namespace
}  // namespace tarvo
