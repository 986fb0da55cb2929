// The bridge start as the bring-up calls it: its log lines, the bridge card
// and l2_running for a start that succeeds and one that fails.
#include "main/l2_bridge_start.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "support/recording_bridge_start.h"

namespace {

using tarvo::LogLevel;

struct Logged {
    std::string text;
    LogLevel level;
    bool operator==(const Logged&) const = default;
};

std::vector<Logged> log_of(const tarvo::AppState& state) {
    std::vector<Logged> lines;
    for (const auto& entry : state.log) lines.push_back({entry.text, entry.level});
    return lines;
}

// l2_running, then the bridge card's online, standby and text.
using Published = std::tuple<bool, bool, bool, std::string>;
Published published(const tarvo::AppState& state) {
    return {state.l2_running, state.bridge_card.online, state.bridge_card.standby, state.bridge_card.text};
}

class L2BridgeStartPublishing : public ::testing::Test {
protected:
    L2BridgeStartPublishing() {
        result.wg_ip = "10.200.0.7/24";
        result.tunnel_id = 70000;
        result.local_subnet = "192.168.5.0/24";
        link.id = 6;
        link.mode = "L2";
    }
    void TearDown() override {
        auto state = shared.lock();
        tarvo::stop_l2_bridge(state->bridge, false);
    }

    tarvo::SharedState shared{tarvo::ClientConfig{}};
    tarvo::BootstrapResult result;
    tarvo::LinkInfo link;
    // The bridge is a field of the state; the recording only reads its flag.
    tarvo::testing::RecordingBridgeStart system{shared.lock()->bridge};
};

TEST_F(L2BridgeStartPublishing, ASuccessTurnsTheCardOnlineWithTheTapAddress) {
    shared.lock()->log.clear();
    tarvo::start_l2_bridge(shared, result, link, "10.200.0.1", system);

    auto state = shared.lock();
    EXPECT_EQ(published(*state), (Published{true, true, false, "EoIP 192.168.5.0/24"}));
    EXPECT_THAT(
        log_of(*state),
        ::testing::ElementsAre(
            Logged{"Aktywacja natywnego mostka L2 (EoIP C++): Link #6, Tunnel ID 4464, TAP IP 192.168.5.0/24 "
                   "-> Hub 10.200.0.1",
                   LogLevel::progress},
            Logged{"Natywny mostek L2 EoIP aktywny na karcie TAP " + std::string(tarvo::testing::kTapGuid) +
                       " (Media Status: Connected).",
                   LogLevel::success}));
    EXPECT_EQ(state->bridge.threads.size(), 3u);
}

TEST_F(L2BridgeStartPublishing, AFailurePutsTheCardOnStandbyWithTheStepsText) {
    shared.lock()->log.clear();
    result.wg_ip = "10.200.0.x";
    link.hub_ip = "10.200.0.9";

    tarvo::start_l2_bridge(shared, result, link, "10.200.0.1", system);

    auto state = shared.lock();
    EXPECT_EQ(published(*state), (Published{false, false, true, "Błąd TAP L2"}));
    ASSERT_EQ(state->log.size(), 2u);
    EXPECT_THAT(state->log[0].text, ::testing::EndsWith("-> Hub 10.200.0.9"));
    EXPECT_EQ(log_of(*state)[1],
              (Logged{"Błąd uruchomienia mostka L2: Nieprawidłowy lokalny adres WG IP: 10.200.0.x",
                      LogLevel::error}));
    EXPECT_TRUE(state->bridge.threads.empty());
}

}  // namespace
