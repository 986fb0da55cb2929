// The real window against an orchestrator that answers every request 3 s late
// (the "slow-answers" scenario): a click is shown before its operation has an
// answer, a second click of the same button changes nothing, and a power-off
// clicked while the power-on waits for its answers is shown waiting, runs
// after it and ends off, with exactly the two operations' requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "sim_run/posix/sim_run.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using namespace testing;

long count_of(const std::string& text, const std::string& part) {
    long n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

// The sync requests' queries from line `from` of the request log on.
std::vector<std::string> syncs_from(const std::string& requests, std::size_t from) {
    std::vector<std::string> found;
    std::istringstream lines(requests);
    std::size_t index = 0;
    for (std::string line; std::getline(lines, line); ++index) {
        const std::size_t at = line.find("/tarvo/api/control/sync?");
        if (index >= from && at != std::string::npos) found.push_back(line.substr(at + 24));
    }
    return found;
}

bool is_zero_report(const std::string& query) {
    return query == "code=SLOWDEMOKEY1&power_on=0&force_l3=0&wg_running=0&l2_running=0&rx_bytes=0&tx_bytes=0";
}

constexpr const char* kRed = "153,27,27";  // the power-off button's fill while the power is on or going off
constexpr const char* kGreen = "16,185,129";    // the power-on button's fill, always
constexpr const char* kRedDot = "248,113,113";  // the power-off button's dot while the power is on

class SlowAnswersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = SimRun::unavailable(true)) GTEST_SKIP() << *why;
        run = std::make_unique<SimRun>("slow-answers", "", patience(240s));
        ASSERT_TRUE(run->running_client());
    }

    // The client's log since `before` was read.
    std::string log_since(const std::string& before) const { return run->client_log().substr(before.size()); }

    OrphanCatcher orphans;  // first: catches what the run leaves
    std::unique_ptr<SimRun> run;
};

TEST_F(SlowAnswersTest,
       AClickIsShownBeforeItsOperationRunsASecondChangesNothingAndAPowerOffDuringThePowerOnEndsOff) {
    // The start's own power-on and its report, each answered 3 s late.
    ASSERT_TRUE(run->requested("power_on=1&force_l3=0&wg_running=1", 90s)) << run->client_log();

    // Connected: the power-off button is filled red, the power-on button green on its row.
    std::filesystem::path connected;
    ASSERT_TRUE(run->shows(
        "the power-off button filled red", [](const auto& png) { return pixels_of(png, kRed) > 1000; },
        connected));
    const auto off_button = colour_box(connected, kRed);
    ASSERT_TRUE(off_button) << connected;
    const auto band = colour_box(connected, kGreen, "1280x4+0+" + std::to_string(off_button->centre_y() - 2));
    ASSERT_TRUE(band) << connected;
    const Box on_button{band->x, off_button->y, band->w, off_button->h};

    ASSERT_TRUE(run->click(*off_button, "the power-off's first line",
                           [&] { return contains(run->client_log(), "Wyłączanie tunelu SD-WAN"); }));
    ASSERT_TRUE(run->logged("Tunel SD-WAN został wyłączony", 60s));
    ASSERT_TRUE(run->tunnel_interface_gone());
    std::filesystem::path idle;
    ASSERT_TRUE(run->shows(
        "the power-off button dark once off",
        [&](const auto& png) { return pixels_in(png, *off_button, kRed) < 100; }, idle));

    const std::size_t requests_before = static_cast<std::size_t>(count_of(run->requests(), "\n"));
    const std::string log_before = run->client_log();

    // The power-on's progress is drawn before its first answer is in: the
    // log, read after the screenshot, has nothing of the answer yet.
    const std::string idle_on_button = pixels_digest(idle, on_button);
    ASSERT_TRUE(run->click(on_button, "the power-on's first line", [&] {
        return contains(log_since(log_before), "Włączanie tunelu i autoryzacja");
    }));
    std::filesystem::path clicked_on;
    EXPECT_TRUE(run->shows(
        "the power-on button in progress",
        [&](const auto& png) { return pixels_digest(png, on_button) != idle_on_button; }, clicked_on));
    EXPECT_FALSE(contains(log_since(log_before), "Autoryzowano węzeł")) << clicked_on << "\n"
                                                                        << log_since(log_before);

    ASSERT_TRUE(run->click_expecting_nothing(on_button));  // refused: a power-on is in progress
    // The power-off is drawn waiting ("WYŁĄCZANIE...", not the switched-on
    // look) while the power-on holds the tunnel: it has not begun (its first
    // log line) when the screenshot is taken.
    const std::string switched_on_off_button = pixels_digest(connected, *off_button);
    ASSERT_GT(pixels_in(connected, *off_button, kRedDot), 20) << connected;
    std::filesystem::path dot_gone;
    ASSERT_TRUE(run->click(*off_button, "the power-off button's red dot gone", [&] {
        return run->screenshot(dot_gone) && pixels_in(dot_gone, *off_button, kRedDot) < 5;
    }));
    std::filesystem::path clicked_off;
    EXPECT_TRUE(run->shows(
        "the power-off button filled red in its waiting look",
        [&](const auto& png) {
            return pixels_in(png, *off_button, kRed) > 1000 &&
                   pixels_digest(png, *off_button) != switched_on_off_button;
        },
        clicked_off));
    EXPECT_FALSE(contains(log_since(log_before), "Wyłączanie tunelu SD-WAN")) << clicked_off << "\n"
                                                                              << log_since(log_before);

    ASSERT_TRUE(awaited(
        "the power-off's last line",
        [&] { return contains(log_since(log_before), "Tunel SD-WAN został wyłączony"); }, 90s,
        [&] { return log_since(log_before); }));
    const std::string log = log_since(log_before);
    EXPECT_EQ(count_of(log, "Włączanie tunelu i autoryzacja"), 1) << log;
    EXPECT_EQ(count_of(log, "Wyłączanie tunelu SD-WAN"), 1) << log;
    EXPECT_LT(log.find("Włączanie tunelu i autoryzacja"), log.find("Wyłączanie tunelu SD-WAN"))
        << "in the order clicked";
    EXPECT_LT(log.find("Adapter WireGuard-NT ('tarvo-client', 10.200.0.7/32) uruchomiony"),
              log.find("Wyłączanie tunelu SD-WAN"))
        << "the power-on ran whole before the power-off\n"
        << log;
    EXPECT_TRUE(run->tunnel_interface_gone());
    EXPECT_TRUE(awaited(
        "the client's wireguard-go to end",
        [] { return processes_in(kClientNs, "wireguard-go", "tarvo-client").empty(); }, 30s));

    // The power-on's sync and report, then the power-off's report and status
    // check; around them only the worker's status checks of a switched-off
    // tunnel.
    const std::vector<std::string> syncs = syncs_from(run->requests(), requests_before);
    const auto first_on = std::find_if(syncs.begin(), syncs.end(),
                                       [](const std::string& q) { return contains(q, "power_on=1"); });
    ASSERT_GE(std::distance(first_on, syncs.end()), 4) << run->requests();
    EXPECT_TRUE(first_on[0].starts_with("code=SLOWDEMOKEY1&power_on=1&force_l3=0&wg_running=0&l2_running=0&"))
        << first_on[0];
    EXPECT_TRUE(first_on[1].starts_with("code=SLOWDEMOKEY1&power_on=1&force_l3=0&wg_running=1&l2_running=0&"))
        << first_on[1];
    EXPECT_TRUE(is_zero_report(first_on[2])) << first_on[2];
    EXPECT_TRUE(is_zero_report(first_on[3])) << first_on[3];
    const long others = static_cast<long>(syncs.size()) - 4;
    EXPECT_EQ(std::count_if(syncs.begin(), syncs.end(), is_zero_report), others + 2) << run->requests();
    EXPECT_LE(std::distance(syncs.begin(), first_on), 1) << "at most a status check already under way";

    EXPECT_EQ(run->stop(), 0) << run->launcher();
    EXPECT_EQ(leftovers(run->launcher()), std::vector<std::string>{});
}

}  // namespace
}  // namespace tarvo
