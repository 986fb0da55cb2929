// The real window against an orchestrator that answers every request 3 s late
// (the "slow-answers" scenario): a click is shown from the next frame, a
// second click of the same button changes nothing, and a power-off clicked
// while the power-on waits for its answers runs after it and ends off, with
// exactly the two operations' requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/sim_run.h"

namespace tarvo {
namespace {

using namespace std::chrono_literals;
using namespace testing;

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    std::string geometry() const {
        return std::to_string(w) + "x" + std::to_string(h) + "+" + std::to_string(x) + "+" +
               std::to_string(y);
    }
};

// The bounding box of the pixels of exactly this colour in `crop` (all of
// the picture when empty), in the crop's own coordinates.
std::optional<Box> colour_box(const std::filesystem::path& png, const std::string& rgb,
                              const std::string& crop = "") {
    const std::string cropped = crop.empty() ? "" : " -crop " + crop + " +repage";
    // "shot.png PNG 337x47 1280x900+649+274 ..."
    std::istringstream words(output_of("convert " + png.string() + cropped + " -fill black +opaque \"rgb(" +
                                       rgb + ")\" -trim info:-"));
    std::string name, kind, size, page;
    Box box;
    if (!(words >> name >> kind >> size >> page) || std::sscanf(size.c_str(), "%dx%d", &box.w, &box.h) != 2 ||
        std::sscanf(page.c_str(), "%*dx%*d+%d+%d", &box.x, &box.y) != 2 || box.w < 10 || box.h < 4)
        return std::nullopt;
    return box;
}

// The pixels of a part of the picture, as a digest: equal for equal pixels.
std::string pixels_digest(const std::filesystem::path& png, const Box& box) {
    return output_of("convert " + png.string() + " -crop " + box.geometry() + " +repage -format %# info:");
}

long pixels_in(const std::filesystem::path& png, const Box& box, const std::string& rgb) {
    const std::filesystem::path part = png.parent_path() / ("part-" + png.filename().string());
    if (!run_quietly("convert " + png.string() + " -crop " + box.geometry() + " +repage " + part.string()))
        return 0;
    return pixels_of(part, rgb);
}

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

std::size_t lines_in(const std::string& text) { return static_cast<std::size_t>(count_of(text, "\n")); }

bool is_zero_report(const std::string& query) {
    return query == "code=SLOWDEMOKEY1&power_on=0&force_l3=0&wg_running=0&l2_running=0&rx_bytes=0&tx_bytes=0";
}

class SlowAnswersTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto why = SimRun::unavailable(true)) GTEST_SKIP() << *why;
        run = std::make_unique<SimRun>("slow-answers", "", 240);
        ASSERT_TRUE(run->running_client()) << run->launcher();
        display = display_of(run->launcher());
    }

    std::filesystem::path shoot(const std::string& name) {
        const auto png = run->out() / (name + ".png");
        EXPECT_TRUE(run_quietly("import -display " + display + " -window root " + png.string())) << name;
        return png;
    }

    // A click with the pointer taken off the window at once, so no button
    // shows its hover colour in the screenshots.
    void click(const Box& button) {
        EXPECT_TRUE(run_quietly(
            "DISPLAY=" + display + " xdotool mousemove " + std::to_string(button.x + button.w / 2) + " " +
            std::to_string(button.y + button.h / 2) + " click 1 sleep 0.1 mousemove 5 5"));
    }

    std::unique_ptr<SimRun> run;
    std::string display;
};

TEST_F(SlowAnswersTest, AClickIsShownAtOnceASecondChangesNothingAndAPowerOffDuringThePowerOnEndsOff) {
    // The start's own power-on and its report, each answered 3 s late.
    ASSERT_TRUE(
        eventually([&] { return contains(run->requests(), "power_on=1&force_l3=0&wg_running=1"); }, 90s))
        << run->requests() << run->client_log();

    // Connected: the power-off button is filled red, the power-on button green on its row.
    const auto connected = shoot("connected");
    const auto off_button = colour_box(connected, "153,27,27");
    ASSERT_TRUE(off_button) << connected;
    const auto band = colour_box(connected, "16,185,129",
                                 "1280x4+0+" + std::to_string(off_button->y + off_button->h / 2 - 2));
    ASSERT_TRUE(band) << connected;
    const Box on_button{band->x, off_button->y, band->w, off_button->h};

    click(*off_button);
    ASSERT_TRUE(eventually([&] { return contains(run->client_log(), "Tunel SD-WAN został wyłączony"); }, 60s))
        << run->client_log();
    ASSERT_TRUE(eventually([&] { return !has_tunnel_interface(); }, 30s));
    const auto idle = shoot("idle");
    EXPECT_LT(pixels_in(idle, *off_button, "153,27,27"), 100) << "the power-off button is dark when off";

    const std::size_t requests_before = lines_in(run->requests());
    const std::string log_before = run->client_log();
    // Each click shows in a screenshot taken before any answer could have
    // come back (3 s).
    const std::string idle_on_button = pixels_digest(idle, on_button);
    click(on_button);
    EXPECT_TRUE(
        eventually([&] { return pixels_digest(shoot("clicked-on"), on_button) != idle_on_button; }, 2s))
        << "the power-on button shows the power-on in progress";
    click(on_button);  // refused: a power-on is in progress
    click(*off_button);
    EXPECT_TRUE(
        eventually([&] { return pixels_in(shoot("clicked-off"), *off_button, "153,27,27") > 1000; }, 2s))
        << "the power-off button shows the waiting power-off";

    const auto log_since = [&] { return run->client_log().substr(log_before.size()); };
    ASSERT_TRUE(eventually([&] { return contains(log_since(), "Tunel SD-WAN został wyłączony"); }, 90s))
        << log_since();
    EXPECT_EQ(count_of(log_since(), "Włączanie tunelu i autoryzacja"), 1) << log_since();
    EXPECT_EQ(count_of(log_since(), "Wyłączanie tunelu SD-WAN"), 1) << log_since();
    const std::size_t power_on_line = log_since().find("Włączanie tunelu i autoryzacja");
    const std::size_t power_off_line = log_since().find("Wyłączanie tunelu SD-WAN");
    EXPECT_LT(power_on_line, power_off_line) << "in the order clicked";
    EXPECT_TRUE(contains(log_since(), "Adapter WireGuard-NT ('tarvo-client', 10.200.0.7/32) uruchomiony"))
        << "the power-on ran whole before the power-off";
    EXPECT_FALSE(has_tunnel_interface());
    EXPECT_TRUE(processes_in(kClientNs, "wireguard-go", "tarvo-client").empty());

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
