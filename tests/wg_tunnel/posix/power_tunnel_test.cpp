// The client's own operations over a real tunnel: the worker's auto-connect
// power-on brings layer 3 up through the engine stand-in (wireguard-go) to a
// hub namespace, a topology change reloads it, a paused project stops it, and
// power-off leaves no interface, process or thread behind; with an L2 link
// the bridge also comes up and the client's TAP reaches the simulated hub's
// TAP over GRE inside the tunnel. The client side (worker, power-off and its
// test orchestrator) runs in the power_child helper inside the client
// namespace.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/helper_programs.h"
#include "support/hub_process.h"
#include "support/namespace_tcp_transfer.h"
#include "support/power_storm.h"
#include "support/wg_tunnel_lab.h"

namespace tarvo {
namespace {

const std::string kProbeLine = std::string("Handshake WireGuard potwierdzony (Ping ") +
                               testing::kHubTunnelAddress + " OK) — zielona lampka aktywna!";
const std::string kReloadLine =
    "Kanał kontrolny :5000 — wykryto zmianę topologii projektu w Orkiestratorze! Przeładowuję tunel...";

class PowerTunnelTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = testing::WgTunnelLab::unavailable()) GTEST_SKIP() << *why;
        lab = std::make_unique<testing::WgTunnelLab>(TARVO_WINTOOLS_STANDIN, "tarvo-pw-");
        ASSERT_TRUE(lab->ready()) << lab->error();
    }

    // The client with the orchestrator's first answer `scenario`.
    void start_client(const std::string& scenario = "l3") {
        ASSERT_TRUE(lab->start_client(testing::helper_program("power_child"), "TARVO_POWER_TEST=1",
                                      {testing::kHubTunnelAddress, scenario}));
    }

    // Sends `command` (unless empty) and returns the answer line that begins with `answer`.
    std::optional<std::string> ask(const std::string& command, const std::string& answer) {
        if (!command.empty()) lab->client().send_line(command);
        const auto line = lab->client().read_line();
        if (!line || line->rfind(answer, 0) != 0) {
            ADD_FAILURE() << command << " answered " << line.value_or("(nothing)");
            return std::nullopt;
        }
        return line;
    }

    std::map<std::string, std::string> state() {
        std::map<std::string, std::string> fields;
        std::istringstream words(ask("state", "state ").value_or(""));
        for (std::string word; words >> word;)
            if (const auto eq = word.find('='); eq != std::string::npos)
                fields[word.substr(0, eq)] = word.substr(eq + 1);
        return fields;
    }

    std::vector<std::string> log() {
        std::vector<std::string> texts;
        lab->client().send_line("log");
        while (const auto line = lab->client().read_line()) {
            if (*line == "end") break;
            texts.push_back(line->substr(line->find(' ', 4) + 1));
        }
        return texts;
    }

    static long count(const std::vector<std::string>& texts, const std::string& text) {
        return std::count(texts.begin(), texts.end(), text);
    }

    void expect_adapter_gone() {
        const auto gone = lab->adapter_gone();
        EXPECT_TRUE(gone) << gone.report;
    }
    void expect_ping_answered(const std::string& ns, const std::string& address) {
        const auto answered = testing::WgTunnelLab::ping_answered(ns, address);
        EXPECT_TRUE(answered) << answered.report;
    }
    void expect_threads_at_most(int limit) {
        const auto settled = threads_settled_at_most(limit);
        EXPECT_TRUE(settled) << settled.report;
    }
    void expect_tap_idle() {
        const auto idle = tap_idle();
        EXPECT_TRUE(idle) << idle.report;
    }

    // The client's thread count once it is at most `limit`: detached threads
    // (the TAP reset, status checks) may still be ending.
    testing::Waited<int> threads_settled_at_most(int limit) {
        return testing::wait_until(
            "the client's threads down to " + std::to_string(limit),
            [&] { return std::stoi(state()["threads"]); }, [&](int threads) { return threads <= limit; });
    }

    // The client's TAP left as the reset leaves it: link down and no IPv4
    // address (the reset runs on a thread of its own).
    testing::Waited<std::string> tap_idle() {
        return testing::wait_until(
            std::string("the client's TAP ") + kClientTapName + " down without an IPv4 address",
            [&] {
                return lab->in_client(std::string("ip -o link show dev ") + kClientTapName) + "\n" +
                       lab->in_client(std::string("ip -o -4 addr show dev ") + kClientTapName);
            },
            [](const std::string& seen) {
                const std::string link = seen.substr(0, seen.find('\n'));
                const std::string flags = link.substr(0, link.find('>'));
                return !link.empty() && flags.find(",UP") == std::string::npos &&
                       flags.find("<UP") == std::string::npos && seen.find(" inet ") == std::string::npos;
            });
    }

    static constexpr const char* kClientTapName = "tarvotap0";
    std::unique_ptr<testing::WgTunnelLab> lab;
};

TEST_F(PowerTunnelTest, AutoConnectReloadPauseAndPowerOffOverARealTunnel) {
    start_client();
    // The worker's start: the status check and the auto-connect power-on.
    ASSERT_TRUE(ask("asleep", "asleep"));
    auto texts = log();
    EXPECT_EQ(
        count(texts, "Adapter WireGuard-NT ('tarvo-client', 198.51.100.2/32) uruchomiony w jądrze Windows."),
        1);
    EXPECT_EQ(count(texts, kProbeLine), 1) << "the hub did not answer the probe through the tunnel";
    EXPECT_EQ(state()["power_on"], "1");
    EXPECT_EQ(state()["wg_running"], "1");
    // A desktop node is a layer-3 gateway: forwarding is on in its namespace.
    EXPECT_EQ(lab->in_client("cat /proc/sys/net/ipv4/ip_forward"), "1");
    EXPECT_NE(lab->in_client("ip route show 198.51.100.0/24").find("dev tarvo-client"), std::string::npos);
    expect_ping_answered(lab->client_ns(), testing::kHubTunnelAddress);

    // A new link: the worker's poll reloads the tunnel with its route.
    ASSERT_TRUE(ask("scenario l3-more", "ok"));
    ASSERT_TRUE(ask("cycle", "cycled"));
    texts = log();
    EXPECT_EQ(count(texts, kReloadLine), 1);
    EXPECT_EQ(count(texts, kProbeLine), 2);
    EXPECT_NE(lab->in_client("ip route show 10.60.0.0/24").find("dev tarvo-client"), std::string::npos);
    expect_ping_answered(lab->client_ns(), testing::kHubTunnelAddress);

    // The project is paused: the worker stops the tunnel, the power stays on.
    ASSERT_TRUE(ask("scenario paused", "ok"));
    ASSERT_TRUE(ask("cycle", "cycled"));
    EXPECT_EQ(count(log(),
                    "Kanał kontrolny :5000 — brak zgody na tunel (Brak linku w projekcie). Zatrzymuję WG i "
                    "przełączam TAP w stan IDLE."),
              1);
    expect_adapter_gone();
    auto stopped = state();
    EXPECT_EQ(stopped["power_on"], "1");
    EXPECT_EQ(stopped["adapter"], "0");

    // Power-off: nothing left, and no more threads than the stopped tunnel had.
    ASSERT_TRUE(ask("power-off", "off"));
    expect_adapter_gone();
    auto off = state();
    EXPECT_EQ(off["power_on"], "0");
    EXPECT_EQ(off["wg_running"], "0");
    EXPECT_EQ(off["l2_running"], "0");
    EXPECT_EQ(off["adapter"], "0");
    EXPECT_EQ(off["bridge"], "0");
    expect_threads_at_most(std::stoi(stopped["threads"]));
    EXPECT_FALSE(testing::WgTunnelLab::ping_once(lab->client_ns(), testing::kHubTunnelAddress));
}

constexpr const char* kHubTapAddress = "203.0.113.2";

// An L2 link: the bridge comes up over the tunnel to the simulated hub, whose
// GRE address is its tunnel address; ping and TCP cross L2 and the hub sees
// the keepalives; a paused project leaves the TAP idle, power-off nothing.
TEST_F(PowerTunnelTest, AutoConnectWithAnL2LinkBridgesTheTapsThroughTheTunnel) {
    const std::string hub = lab->hub_ns();
    ASSERT_TRUE(testing::add_addressed_tap(hub, "hubtap0", std::string(kHubTapAddress) + "/24"));
    testing::TempFolder folder;
    const auto stats = folder.path() / "hub-stats";
    testing::HubProcess hub_process(
        hub,
        {"--tap", "hubtap0", "--tunnel-id", std::to_string(testing::kBridgeTunnelId), "--peer",
         testing::kClientTunnelAddress, "--local", testing::kHubTunnelAddress, "--stats", stats.string()},
        true);
    ASSERT_TRUE(hub_process.started());
    const auto ready = testing::wait_for_hub_report(stats, 0);
    ASSERT_TRUE(ready) << ready.report;

    start_client("l2");
    ASSERT_TRUE(ask("asleep", "asleep"));
    const auto texts = log();
    EXPECT_EQ(count(texts, kProbeLine), 1) << "the hub did not answer the probe through the tunnel";
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& text) {
                                return text.rfind("Natywny mostek L2 EoIP aktywny na karcie TAP {", 0) == 0;
                            }),
              1);
    auto on = state();
    EXPECT_EQ(on["wg_running"], "1");
    EXPECT_EQ(on["l2_running"], "1");
    EXPECT_EQ(on["bridge"], "1");
    const std::string tap = std::string("ip -o -4 addr show dev ") + kClientTapName;
    EXPECT_NE(lab->in_client(tap).find(testing::kBridgeTapAddress), std::string::npos);

    // Layer 3 and layer 2 both: the hub's tunnel address and its TAP.
    expect_ping_answered(lab->client_ns(), testing::kHubTunnelAddress);
    expect_ping_answered(lab->client_ns(), kHubTapAddress);
    constexpr std::size_t kTransfer = 1 << 20;  // full frames, fragmented inside the tunnel
    const std::string client_tap_host(testing::kBridgeTapAddress,
                                      std::string(testing::kBridgeTapAddress).find('/'));
    EXPECT_EQ(testing::tcp_transfer(lab->client_ns(), client_tap_host, hub, kTransfer), kTransfer);
    const auto keepalives = testing::wait_for_keepalives(hub_process, stats, 2);
    EXPECT_TRUE(keepalives) << keepalives.report;
    const auto seen = testing::read_hub_stats(stats);
    EXPECT_EQ(seen.at("last_keepalive_sender"), client_tap_host);
    EXPECT_EQ(seen.at("last_tunnel_id"), std::to_string(testing::kBridgeTunnelId));
    EXPECT_GE(testing::hub_count(seen, "bytes_from_tap"), static_cast<long>(kTransfer));

    // The project is paused: the tunnel stops and the TAP goes idle.
    ASSERT_TRUE(ask("scenario paused", "ok"));
    ASSERT_TRUE(ask("cycle", "cycled"));
    expect_adapter_gone();
    expect_tap_idle();
    auto stopped = state();
    EXPECT_EQ(stopped["l2_running"], "0");
    EXPECT_EQ(stopped["bridge"], "0");
    EXPECT_FALSE(testing::WgTunnelLab::ping_once(lab->client_ns(), kHubTapAddress));

    // Power-off: no interface of the tunnel, no process, no bridge thread.
    ASSERT_TRUE(ask("power-off", "off"));
    expect_adapter_gone();
    auto off = state();
    EXPECT_EQ(off["power_on"], "0");
    EXPECT_EQ(off["l2_running"], "0");
    EXPECT_EQ(off["bridge"], "0");
    expect_threads_at_most(std::stoi(stopped["threads"]));
    expect_tap_idle();
}

// The storm of the in-process tests, through the real mechanisms: each
// completed power-off also leaves no interface and no wireguard-go.
TEST_F(PowerTunnelTest, AStormOfClicksLeavesNothingRunningAfterEachPowerOff) {
    start_client();
    ASSERT_TRUE(ask("asleep", "asleep"));
    const std::string threads_before = state()["threads"];
    const std::uint64_t seed = testing::storm_seed();
    std::cout << "storm seed " << seed << " (replay with TARVO_STORM_SEED=" << seed << ")" << std::endl;
    RecordProperty("storm_seed", std::to_string(seed));
    const auto report = ask("storm " + std::to_string(seed) + " 5", "storm ");
    ASSERT_TRUE(report);
    std::cout << *report << std::endl;
    EXPECT_NE(report->find(" violations=0"), std::string::npos) << *report << " (seed " << seed << ")";
    EXPECT_EQ(report->find("checked=0"), std::string::npos) << *report;

    expect_adapter_gone();
    auto off = state();
    EXPECT_EQ(off["power_on"], "0");
    expect_threads_at_most(std::stoi(threads_before));
}

}  // namespace
}  // namespace tarvo
