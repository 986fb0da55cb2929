// The whole client against the simulated SD-WAN, as scripts/run runs it
// (sim/launch/run-sim), asserted from outside the client: the orchestrator's
// recorded requests, pings from the client namespace, the window's
// screenshots, and that nothing of a run is left once it ends (root only).
// Every run is bounded by the launcher's own --for as well.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim_run/posix/sim_run.h"
#include "support/helper_programs.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using testing::awaited;
using testing::client_links;
using testing::colour_box;
using testing::contains;
using testing::has_tunnel_interface;
using testing::kClientNs;
using testing::leftovers;
using testing::output_of;
using testing::pings;
using testing::pixels_of;
using testing::SimRun;

class SimRunTest : public ::testing::Test {
protected:
    void start(bool window, const std::string& scenario) {
        if (const auto why = SimRun::unavailable(window)) GTEST_SKIP() << *why;
        run = std::make_unique<SimRun>(scenario, window ? "" : testing::helper_program("headless_client"));
        ASSERT_TRUE(run->running_client());
    }

    void stop_and_expect_nothing_left() {
        EXPECT_EQ(run->stop(), 0) << run->launcher();
        EXPECT_EQ(leftovers(run->launcher()), std::vector<std::string>{}) << run->launcher();
    }

    static ::testing::AssertionResult answers(const std::string& address) {
        return awaited(
            "a ping to " + address + " to be answered", [&] { return pings(address); }, 30s);
    }
    static ::testing::AssertionResult goes_unanswered(const std::string& address) {
        return awaited(
            "pings to " + address + " to go unanswered", [&] { return !pings(address); }, 30s);
    }
    // The first screenshot (the launcher takes one every 5 s and renames it
    // into place once written whole) that shows what `drawn` looks for: the
    // window may not have drawn that state in the first ones yet.
    ::testing::AssertionResult screenshot(const std::string& what,
                                          const std::function<bool(const std::filesystem::path&)>& drawn,
                                          std::filesystem::path& shot) {
        int number = 1;
        return awaited(
            "a screenshot showing " + what,
            [&] {
                char name[16];
                std::snprintf(name, sizeof name, "shot-%03d.png", number);
                shot = run->out() / "screenshots" / name;
                if (!std::filesystem::exists(shot)) return false;
                if (drawn(shot)) return true;
                ++number;
                return false;
            },
            90s, [&] { return shot.string() + " (the last one looked at)"; });
    }

    testing::OrphanCatcher orphans;  // first: catches what any run here leaves
    std::unique_ptr<SimRun> run;
};

TEST_F(SimRunTest, TheDefaultScenarioConnectsByItselfStopsWhenPausedAndPowersOffOnAClick) {
    start(true, "l3-l2");
    if (IsSkipped() || HasFatalFailure()) return;
    // The worker's auto-connect sync, then the power-on's report of the running tunnel.
    EXPECT_TRUE(run->requested("code=L2DEMOKEY001&power_on=1&force_l3=0&wg_running=0"));
    EXPECT_TRUE(run->requested("power_on=1&force_l3=0&wg_running=1")) << run->client_log();
    EXPECT_TRUE(answers("10.200.0.1")) << "layer 3: the hub's tunnel address";
    EXPECT_TRUE(run->logged("[success] Handshake WireGuard potwierdzony (Ping 10.200.0.1 OK)"));
    // Layer 2: the client's TAP, EoIP over the tunnel, the hub's TAP, the host behind it.
    EXPECT_TRUE(answers("203.0.113.20")) << run->client_log();
    EXPECT_TRUE(run->requested("wg_running=1&l2_running=1"));

    // A screenshot of the connected window: the power-off button is filled red.
    std::filesystem::path shot;
    ASSERT_TRUE(screenshot(
        "the power-off button in red and the cards in green",
        [](const auto& png) {
            return pixels_of(png, "153,27,27") > 5000 && pixels_of(png, "16,185,129") > 5000;
        },
        shot));
    const auto power_off_button = colour_box(shot, "153,27,27");
    ASSERT_TRUE(power_off_button) << shot;

    // After 20 s the project is paused: the worker stops the tunnel.
    EXPECT_TRUE(run->logged("brak zgody na tunel (Projekt wstrzymany", 60s));
    EXPECT_TRUE(run->tunnel_interface_gone());
    EXPECT_TRUE(goes_unanswered("10.200.0.1"));
    EXPECT_TRUE(goes_unanswered("203.0.113.20"));

    // The power stays on until "btn_power_off" is clicked in the real window.
    EXPECT_TRUE(run->click(*power_off_button, "the power-off's first line",
                           [&] { return contains(run->client_log(), "Wyłączanie tunelu SD-WAN"); }));
    EXPECT_TRUE(run->logged("Tunel SD-WAN został wyłączony"));
    EXPECT_TRUE(run->requested("power_on=0&"));
    EXPECT_FALSE(has_tunnel_interface());
    EXPECT_TRUE(awaited(
        "the client's wireguard-go to end",
        [] { return testing::processes_in(kClientNs, "wireguard-go", "tarvo-client").empty(); }, 30s));
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, ANewLinkInTheAnswerReloadsTheTunnelWithItsRoute) {
    start(false, "l3");
    if (IsSkipped() || HasFatalFailure()) return;
    const auto route = [] { return output_of("ip -n " + kClientNs + " route show 10.254.60.0/24"); };
    EXPECT_TRUE(answers("10.200.0.1")) << run->client_log();
    // Until the client has seen the change (after 12 s), the second link has no route.
    const std::string before = route();
    if (!contains(run->client_log(), "wykryto zmianę topologii projektu")) {
        EXPECT_FALSE(contains(before, "tarvo-client")) << before;
    }
    EXPECT_TRUE(run->logged("wykryto zmianę topologii projektu", 60s));
    EXPECT_TRUE(awaited(
        "a route to 10.254.60.0/24 over tarvo-client", [&] { return contains(route(), "dev tarvo-client"); },
        30s, route));
    EXPECT_TRUE(answers("10.200.0.1"));
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, APausedProjectsTunnelComesUpByItselfOnceTheProjectRuns) {
    start(false, "paused");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(run->requested("code=PAUSEDKEY001&power_on=1"));
    // Until the project runs (after 15 s) the worker's polls bring nothing up.
    if (!contains(run->client_log(), "wykryto zmianę topologii projektu")) {
        EXPECT_FALSE(has_tunnel_interface());
    }
    EXPECT_TRUE(answers("10.200.0.1")) << run->client_log();
    EXPECT_TRUE(run->logged("wykryto zmianę topologii projektu"));
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, AnExpiredPassIsRefusedAndNothingIsBroughtUp) {
    start(true, "pass-expired");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(run->logged("[error] Odmowa zestawienia tunelu dla 'Serwis-Stary'"));
    EXPECT_TRUE(contains(run->requests(), "code=PASS-2H-OLDPASS1&power_on=1"));
    // A worker cycle later (its next sync) still nothing runs.
    const auto syncs = [&] {
        std::size_t count = 0;
        for (std::size_t at = 0; (at = run->requests().find("/sync?", at)) != std::string::npos; ++at)
            ++count;
        return count;
    };
    const std::size_t refused_after = syncs();
    EXPECT_TRUE(awaited(
        "the worker's next sync", [&] { return syncs() > refused_after; }, 30s,
        [&] { return run->requests(); }));
    EXPECT_FALSE(contains(run->requests(), "wg_running=1"));
    EXPECT_FALSE(has_tunnel_interface());
    EXPECT_FALSE(pings("10.200.0.1"));
    // On screen: no power-off button filled red, the tunnel card in amber standby.
    std::filesystem::path shot;
    ASSERT_TRUE(screenshot(
        "the tunnel card in amber standby", [](const auto& png) { return pixels_of(png, "245,158,11") > 50; },
        shot));
    EXPECT_LT(pixels_of(shot, "153,27,27"), 100) << shot;
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, AnUnreachableOrchestratorBringsNothingUp) {
    start(false, "unreachable");
    if (IsSkipped() || HasFatalFailure()) return;
    EXPECT_TRUE(run->logged("[error] "));
    EXPECT_EQ(run->requests(), "");
    EXPECT_FALSE(has_tunnel_interface());
    stop_and_expect_nothing_left();
}

TEST_F(SimRunTest, ARunAfterAKilledOneRemovesItsLeftoversFirst) {
    start(false, "l3");
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(awaited(
        "the tunnel interface", [] { return has_tunnel_interface(); }, 30s, client_links))
        << run->client_log();
    const std::string killed_out = run->launcher();
    run->kill_hard();
    ASSERT_NE(leftovers(killed_out), std::vector<std::string>{}) << "a killed run leaves its network";

    start(false, "l3");
    if (HasFatalFailure()) return;
    EXPECT_FALSE(std::filesystem::exists(testing::host_root_of(killed_out))) << "the killed run's host root";
    EXPECT_TRUE(answers("10.200.0.1")) << run->client_log();
    stop_and_expect_nothing_left();
    EXPECT_EQ(leftovers(killed_out), std::vector<std::string>{}) << killed_out;
}

}  // namespace
}  // namespace tarvo
