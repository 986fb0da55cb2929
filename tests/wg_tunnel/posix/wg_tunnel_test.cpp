// The engine brings up a real tunnel from a client namespace to a hub
// namespace through the linux wireguard.dll stand-in (wireguard-go) and the
// wintools stand-in, and close_wg_engine takes it all down again.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

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

// Whether the client's next line starts with `prefix`; a failure says what came.
::testing::AssertionResult next_line_starts(testing::PipedChild& client, const std::string& prefix) {
    const auto line = client.read_line();
    if (starts_with(line, prefix)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "awaited a line starting \"" << prefix << "\", got "
                                         << line.value_or("nothing");
}

void expect_ping_answered(const std::string& ns, const std::string& address) {
    const auto answered = testing::WgTunnelLab::ping_answered(ns, address);
    EXPECT_TRUE(answered) << answered.report;
}

// A lab with the engine started by the helper in its client namespace.
class WgTunnelStarted : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = testing::WgTunnelLab::unavailable()) GTEST_SKIP() << *why;
        lab_ = std::make_unique<testing::WgTunnelLab>(TARVO_WINTOOLS_STANDIN);
        ASSERT_TRUE(lab_->ready()) << lab_->error();
        ASSERT_TRUE(lab_->start_client(testing::helper_program("wg_engine_child")));
        ASSERT_TRUE(next_line_starts(lab_->client(), "started "));
    }

    std::unique_ptr<testing::WgTunnelLab> lab_;
};

TEST_F(WgTunnelStarted, HandshakePingBothWaysCountersGrowAndCloseRemovesEverything) {
    testing::WgTunnelLab& lab = *lab_;
    auto& client = lab.client();
    ASSERT_TRUE(next_line_starts(client, "handshake "));

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

// What is left of the client's adapter in the client namespace: its link
// and its wireguard-go processes, as one line for a failure message.
std::string adapter_leftovers(testing::WgTunnelLab& lab) {
    std::string seen;
    if (lab.in_client("ip -o link show").find("tarvo-client") != std::string::npos) seen += "link tarvo-client; ";
    for (const pid_t pid : testing::processes_in(lab.client_ns(), "wireguard-go", "tarvo-client"))
        seen += "wireguard-go pid " + std::to_string(pid) + "; ";
    return seen;
}

// Waits up to `limit` until nothing of the adapter is left; what was last seen.
std::string leftovers_after(testing::WgTunnelLab& lab, std::chrono::seconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::string seen = adapter_leftovers(lab);
    while (!seen.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen = adapter_leftovers(lab);
    }
    return seen;
}

// WireGuard-NT removes the adapter when the handle that created it closes,
// and a process that dies closes its handles: so does the stand-in.
TEST_F(WgTunnelStarted, AClientKilledOutrightLeavesNoAdapterAndNoWireguardGo) {
    testing::WgTunnelLab& lab = *lab_;
    ASSERT_FALSE(adapter_leftovers(lab).empty()) << "the adapter never came up";

    ASSERT_EQ(::kill(lab.client().pid(), SIGKILL), 0);
    lab.client().stop();  // reaps it

    const std::string left = leftovers_after(lab, testing::kPatience);
    EXPECT_TRUE(left.empty()) << "after kill -9 of the client, still there: " << left;
}

// A wireguard-go that does not end on SIGTERM (here: stopped) is killed after
// a bounded wait, so closing the adapter ends.
TEST_F(WgTunnelStarted, ClosingEndsAWireguardGoThatDoesNotAnswerTheStopSignal) {
    testing::WgTunnelLab& lab = *lab_;
    auto& client = lab.client();
    // Past the helper's last question to wireguard-go, which a stopped one
    // would never answer.
    ASSERT_TRUE(next_line_starts(client, "handshake "));
    const auto running = testing::processes_in(lab.client_ns(), "wireguard-go", "tarvo-client");
    ASSERT_EQ(running.size(), 1u);
    ASSERT_EQ(::kill(running.front(), SIGSTOP), 0);

    client.send_line("close");
    EXPECT_TRUE(next_line_starts(client, "closed "));
    const std::string left = leftovers_after(lab, testing::kPatience);
    EXPECT_TRUE(left.empty()) << "after the close, still there: " << left;
    if (!left.empty()) ::kill(running.front(), SIGKILL);
}

}  // namespace
}  // namespace tarvo
