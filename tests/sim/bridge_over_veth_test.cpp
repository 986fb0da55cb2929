// The client's bridge against the simulated hub across a veth link between
// two namespaces: the client's TAP and the hub's TAP share a subnet, so a
// ping and a TCP transfer cross L2 over GRE and the hub sees the keepalives;
// once the bridge is stopped nothing crosses any more.
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/posix/adapter_registry.h"
#include "platform/posix/registry_files.h"
#include "platform/registry.h"
#include "support/host_root.h"
#include "support/hub_process.h"
#include "support/namespace_bridge_start.h"
#include "support/namespace_tcp_transfer.h"
#include "support/network_namespaces.h"
#include "support/temp_folder.h"
#include "support/waiting.h"
#include "tap_l2/l2_bridge.h"

namespace {

using tarvo::testing::run_command;

const std::string kGuid = "{7B2C0D1E-4F5A-4B6C-8D7E-9F0A1B2C3D4E}";
const std::string kClientTap = "tarvotap7";

// Pings the hub's TAP until it answers.
tarvo::testing::Waited<bool> hub_tap_answers(const std::string& netns) {
    return tarvo::testing::wait_until(
        "an answer from the hub's TAP 198.51.100.2 to a ping from " + netns,
        [&] { return run_command("ip netns exec " + netns + " ping -c 1 -W 1 198.51.100.2"); });
}

TEST(BridgeOverVeth, PingTcpAndKeepalivesCrossL2ToTheHubUntilTheBridgeStops) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create network namespaces, TAPs and raw sockets";
    tarvo::testing::VethNamespacePair namespaces("tarvo-l2-", "192.0.2.1", "192.0.2.2");
    if (!namespaces.ready()) GTEST_SKIP() << "could not build the namespaces and their veth link";
    const std::string client = namespaces.a();
    const std::string hub = namespaces.b();
    ASSERT_TRUE(tarvo::testing::add_addressed_tap(client, kClientTap, "198.51.100.77/24"));
    ASSERT_TRUE(tarvo::testing::add_addressed_tap(hub, "hubtap0", "198.51.100.2/24"));
    tarvo::testing::ScopedHostRoot root;
    const std::string key = std::string(tarvo::platform::kNetworkAdapterClassKey) + "\\0000";
    ASSERT_TRUE(tarvo::platform::write_registry_value(key, "NetCfgInstanceId", kGuid).has_value());
    ASSERT_TRUE(tarvo::platform::write_registry_value(key, tarvo::platform::kLinuxInterfaceValue, kClientTap)
                    .has_value());

    tarvo::testing::TempFolder folder;
    const auto stats = folder.path() / "stats";
    tarvo::testing::HubProcess hub_process(hub,
                                           {"--tap", "hubtap0", "--tunnel-id", "1000", "--peer", "192.0.2.1",
                                            "--local", "192.0.2.2", "--stats", stats.string()},
                                           true);
    ASSERT_TRUE(hub_process.started());
    const auto ready = tarvo::testing::wait_for_hub_report(stats, 0);
    ASSERT_TRUE(ready) << ready.report;

    tarvo::L2Bridge bridge;
    tarvo::testing::NamespaceBridgeStart system(client, kGuid);
    const auto started = tarvo::launch_l2_bridge(
        bridge, {1000, "192.0.2.2", "198.51.100.77/24", "192.0.2.1/24"}, system);
    ASSERT_TRUE(started) << started.error();

    const auto answered = hub_tap_answers(client);
    EXPECT_TRUE(answered) << answered.report;
    EXPECT_GT(bridge.tx_bytes->load(), 0u);
    EXPECT_GT(bridge.rx_bytes->load(), 0u);
    // Full frames too: a megabyte of TCP from the hub's TAP to the client's.
    constexpr std::size_t kTransfer = 1 << 20;
    EXPECT_EQ(tarvo::testing::tcp_transfer(client, "198.51.100.77", hub, kTransfer), kTransfer);
    EXPECT_GE(bridge.rx_bytes->load(), kTransfer);
    // Keepalives keep coming, sent from the TAP's address.
    const auto keepalives = tarvo::testing::wait_for_keepalives(hub_process, stats, 2);
    EXPECT_TRUE(keepalives) << keepalives.report;
    EXPECT_EQ(tarvo::testing::read_hub_stats(stats)["last_keepalive_sender"], "198.51.100.77");

    tarvo::stop_l2_bridge(bridge, false);
    EXPECT_TRUE(bridge.threads.empty());
    EXPECT_FALSE(run_command("ip netns exec " + client + " ip neigh flush dev " + kClientTap +
                             " && ip netns exec " + client + " ping -c 1 -W 1 198.51.100.2"));
}

}  // namespace
