// The bridge's start and stop over recording seams: the system calls in
// order, each failure's text and what it closes, the threads joined before
// the device and the socket are closed, and a restart's fresh sequence and
// counters.
#include "tap_l2/l2_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <set>

#include "support/recording_bridge_start.h"

namespace {

using tarvo::testing::kTapGuid;
using tarvo::testing::RecordingBridgeStart;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const tarvo::Ipv4Address kHub{{10, 200, 0, 1}};

const std::string kFirewallScript =
    "powershell -NoProfile -Command if (-not (Get-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' "
    "-ErrorAction SilentlyContinue)) { New-NetFirewallRule -DisplayName 'TARVO-GRE-EoIP-Allow' -Protocol 47 "
    "-Direction Inbound -Action Allow -ErrorAction SilentlyContinue | Out-Null }";
const std::string kEnableScript =
    "powershell -NoProfile -Command Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceDescription "
    "-like "
    "'*TAP-Windows*' -or $_.Name -eq 'SD-WAN-L2' } | Enable-NetAdapter -Confirm:$false -ErrorAction "
    "SilentlyContinue";
const std::string kGuid(kTapGuid);
const std::string kAdapterFilter =
    "Get-NetAdapter -IncludeHidden | Where-Object { $_.InterfaceGuid -eq '" + kGuid +
    "' -or $_.InterfaceDescription -like '*TAP-Windows*' } | Select-Object -First 1";

tarvo::BridgeStartInputs inputs(std::string tap_address = "10.1.2.77/24") {
    return {1000, "10.200.0.1", std::move(tap_address), "10.200.0.7/24"};
}

std::uint32_t sequence_of(const std::vector<std::uint8_t>& payload) {
    return std::uint32_t{payload[8]} << 24 | std::uint32_t{payload[9]} << 16 |
           std::uint32_t{payload[10]} << 8 | payload[11];
}

bool is_idle(const tarvo::L2Bridge& bridge) {
    return bridge.threads.empty() && !bridge.running->load() && !bridge.tap && !bridge.socket;
}

class L2BridgeStart : public ::testing::Test {
protected:
    void TearDown() override { tarvo::stop_l2_bridge(bridge, false); }

    tarvo::L2Bridge bridge;
    RecordingBridgeStart system{bridge};
};

TEST_F(L2BridgeStart, ReadiesTheAdapterOpensDeviceAndSocketAndStartsThreeThreads) {
    const auto started = tarvo::launch_l2_bridge(bridge, inputs(), system);

    ASSERT_TRUE(started);
    EXPECT_EQ(*started, kGuid);
    EXPECT_THAT(
        system.calls,
        ElementsAre("wait for reset", kFirewallScript, "ensure driver", kEnableScript,
                    "netsh interface ipv4 set address name=" + kGuid + " static 10.1.2.77 255.255.255.0",
                    "powershell -NoProfile -Command $a = " + kAdapterFilter +
                        "; if ($a) { netsh interface ipv4 set address name=\"$($a.Name)\" static 10.1.2.77 "
                        "255.255.255.0 }",
                    "open tap " + kGuid, "media connected", "socket library", "open socket",
                    "receive timeout 250", "bind 10.200.0.7",
                    "powershell -NoProfile -Command (" + kAdapterFilter + ").MacAddress"));
    EXPECT_EQ(bridge.threads.size(), 3u);
    EXPECT_TRUE(bridge.running->load());

    // The keepalive goes out at once with sequence 1, from the TAP's address
    // and the reported MAC, asking for .2 of the TAP's subnet.
    const auto keepalive = system.network.wait_for_sent(1).front();
    EXPECT_EQ(keepalive.destination, kHub);
    ASSERT_EQ(keepalive.gre_payload.size(), 54u);
    EXPECT_EQ(sequence_of(keepalive.gre_payload), 1u);
    const std::vector<std::uint8_t> mac{0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D};
    EXPECT_TRUE(std::equal(mac.begin(), mac.end(), keepalive.gre_payload.begin() + 12 + 6));
    const std::vector<std::uint8_t> sender_and_target{10, 1, 2, 77, 0, 0, 0, 0, 0, 0, 10, 1, 2, 2};
    EXPECT_TRUE(std::equal(sender_and_target.begin(), sender_and_target.end(),
                           keepalive.gre_payload.begin() + 12 + 28));
}

TEST_F(L2BridgeStart, StopEndsTheThreadsBeforeClosingDeviceAndSocket) {
    ASSERT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(), system));
    system.devices.back()->host_sends(std::vector<std::uint8_t>(60, 0xAB));
    const auto sent = system.network.wait_for_sent(2);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ((std::set{sequence_of(sent[0].gre_payload), sequence_of(sent[1].gre_payload)}),
              (std::set<std::uint32_t>{1, 2}))
        << "the keepalive and the frame number from one counter";
    system.calls.clear();

    tarvo::stop_l2_bridge(bridge, false);

    // One holder of the flag left (the bridge): every thread released its
    // context, so none can use the device or the socket that are closed.
    EXPECT_THAT(system.calls, ElementsAre("cancel io", "media disconnected", "close tap (flag holders 1)",
                                          "close socket (flag holders 1)"));
    EXPECT_TRUE(is_idle(bridge));
    EXPECT_EQ(bridge.tx_bytes->load(), 60u);  // kept until the next start
}

// Setting the socket's receive time-out is best effort. Where it fails, the
// receiver must still see the cleared flag, or the stop (which holds the
// shared state's lock) waits for ever in its join.
TEST_F(L2BridgeStart, StopEndsTheReceiverEvenWhenTheSocketsTimeOutCouldNotBeSet) {
    system.receive_timeout_failure = true;
    ASSERT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(), system));
    system.network.wait_for_sent(1);  // the threads run

    auto stop = std::async(std::launch::async, [&] { tarvo::stop_l2_bridge(bridge, false); });
    if (stop.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the stop was still joining the bridge threads after 20 s";
        // A datagram for the bridge wakes a receiver that waits for ever.
        system.network.deliver(kHub, tarvo::Ipv4Address{{10, 200, 0, 7}}, std::vector<std::uint8_t>(12, 0));
    }
    stop.get();
    EXPECT_TRUE(is_idle(bridge));
}

struct FailureCase {
    const char* name;
    void (*arrange)(RecordingBridgeStart&, tarvo::BridgeStartInputs&);
    std::string text;
    std::vector<std::string> last_calls;  // the failing step and what it closed
};

class L2BridgeStartFailure : public L2BridgeStart, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(L2BridgeStartFailure, GivesTheStepsTextAndClosesWhatItOpened) {
    auto start = inputs();
    GetParam().arrange(system, start);

    const auto started = tarvo::launch_l2_bridge(bridge, start, system);

    ASSERT_FALSE(started);
    EXPECT_EQ(started.error(), GetParam().text);
    const auto& expected = GetParam().last_calls;
    ASSERT_GE(system.calls.size(), expected.size());
    EXPECT_THAT(std::vector<std::string>(system.calls.end() - static_cast<std::ptrdiff_t>(expected.size()),
                                         system.calls.end()),
                ElementsAreArray(expected));
    EXPECT_TRUE(is_idle(bridge));
    EXPECT_EQ(system.network.open_sockets(), 0u);
}

std::vector<std::string> ten_failed_binds() {
    std::vector<std::string> calls{"open socket", "receive timeout 250"};
    for (int i = 0; i < 10; ++i) {
        calls.push_back("bind 10.200.0.7");
        calls.push_back("pause");
    }
    calls.push_back("close socket (flag holders 1)");
    calls.push_back("close tap (flag holders 1)");
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, L2BridgeStartFailure,
    ::testing::Values(FailureCase{"Driver",
                                  [](auto& s, auto&) { s.driver_failure = "Brak sterownika"; },
                                  "Brak sterownika",
                                  {"ensure driver"}},
                      FailureCase{
                          "Open",
                          [](auto& s, auto&) { s.open_failure = 2; },
                          "Nie można otworzyć urządzenia TAP \\\\.\\Global\\" + kGuid + ".tap (kod Win32: 2)",
                          {"open tap " + kGuid}},
                      FailureCase{"Media",
                                  [](auto& s, auto&) { s.media_failure = 31; },
                                  "TAP_IOCTL_SET_MEDIA_STATUS nie powiodło się (kod: 31)",
                                  {"media connected", "close tap (flag holders 1)"}},
                      FailureCase{"LocalAddress",
                                  [](auto&, auto& in) { in.wg_ip = "10.200.0.x"; },
                                  "Nieprawidłowy lokalny adres WG IP: 10.200.0.x",
                                  {"socket library", "close tap (flag holders 1)"}},
                      FailureCase{"HubAddress",
                                  [](auto&, auto& in) { in.hub_address = " hub "; },
                                  "Nieprawidłowy adres Hub WG IP:  hub ",
                                  {"socket library", "close tap (flag holders 1)"}},
                      FailureCase{"Socket",
                                  [](auto& s, auto&) { s.socket_failure = true; },
                                  "Nie udało się utworzyć gniazda Raw Socket (Proto 47 GRE)",
                                  {"open socket", "close tap (flag holders 1)"}},
                      FailureCase{"Bind", [](auto& s, auto&) { s.bind_failures = 10; },
                                  "Nie udało się przypisać gniazda EoIP (Proto 47) do adresu 10.200.0.7",
                                  ten_failed_binds()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(L2BridgeStart, ABindThatSucceedsOnTheTenthAttemptStarts) {
    system.bind_failures = 9;
    EXPECT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(), system));
    EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "pause"), 9);
}

// The orchestrator's TAP address text reaches no command line unless it is a
// plain dotted quad: netsh reads "name=value" words as parameters and "-x" as
// a switch, and the fallback script's text is code. Anything else is handled
// as an empty address, and the bridge still starts.
TEST_F(L2BridgeStart, ATapAddressThatIsNoDottedQuadRunsNoAddressCommand) {
    for (const std::string hostile :
         {"store=persistent", "store=persistent/24", "-?", "/?", "10.0.0.1 store=active",
          "10.0.0.1; Remove-Item C:\\ -Recurse", "10.0.0.1' } ; calc ; { '", "$(Stop-Computer)",
          "10.0.0.1\"; calc; \"/24", "10.0.0.1 -or $true", "10.0.0.01", "10.0.0.1 -or 1/24", "10.0.0/24"}) {
        SCOPED_TRACE(hostile);
        tarvo::L2Bridge idle;
        RecordingBridgeStart recording{idle};
        ASSERT_TRUE(tarvo::launch_l2_bridge(idle, inputs(hostile), recording));
        tarvo::stop_l2_bridge(idle, false);

        const auto scripts = std::count_if(
            recording.calls.begin(), recording.calls.end(),
            [](const std::string& call) { return call.starts_with("powershell"); });
        const auto netsh = std::count_if(recording.calls.begin(), recording.calls.end(),
                                         [](const std::string& call) { return call.starts_with("netsh"); });
        EXPECT_EQ(scripts, 3) << "only the firewall, enable and MAC scripts";
        EXPECT_EQ(netsh, 0);
    }
}

TEST_F(L2BridgeStart, AnEmptyTapAddressRunsNoAddressCommand) {
    ASSERT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(""), system));
    EXPECT_EQ(
        std::count_if(system.calls.begin(), system.calls.end(),
                      [](const std::string& call) { return call.find("set address") != std::string::npos; }),
        0);
}

TEST_F(L2BridgeStart, ASecondStartJoinsTheOldThreadsAndRestartsSequenceAndCounters) {
    ASSERT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(), system));
    system.devices.back()->host_sends(std::vector<std::uint8_t>(60, 0xAB));
    const std::size_t before = system.network.wait_for_sent(2).size();
    const auto* first_running = bridge.running.get();
    system.calls.clear();

    ASSERT_TRUE(tarvo::launch_l2_bridge(bridge, inputs(), system));

    EXPECT_THAT(std::vector<std::string>(system.calls.begin(), system.calls.begin() + 5),
                ElementsAre("cancel io", "media disconnected", "close tap (flag holders 1)",
                            "close socket (flag holders 1)", "wait for reset"));
    EXPECT_EQ(bridge.running.get(), first_running) << "the shared cells live on";
    EXPECT_EQ(bridge.tx_bytes->load(), 0u);
    EXPECT_EQ(bridge.rx_bytes->load(), 0u);
    const auto sent = system.network.wait_for_sent(before + 1);
    EXPECT_EQ(sequence_of(sent[before].gre_payload), 1u);
}

TEST(L2BridgeStop, StartsTheAdapterResetOnlyWithTheResetFlag) {
    for (const bool reset : {false, true}) {
        tarvo::L2Bridge idle;
        int resets = 0;
        tarvo::stop_l2_bridge(idle, reset, [&] { ++resets; });
        EXPECT_EQ(resets, reset ? 1 : 0);
        EXPECT_TRUE(is_idle(idle));
    }
}

}  // namespace
