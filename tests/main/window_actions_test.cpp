#include "main/window_actions.h"

#include <gtest/gtest.h>

#include "support/scoped_environment.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

BootstrapResult answer_with_links(std::vector<std::string> modes) {
    BootstrapResult answer;
    for (std::string& mode : modes) answer.links.emplace_back().mode = std::move(mode);
    return answer;
}

TEST(StatusAfterModeToggle, LabelsFromTheStoredLinks) {
    struct Case {
        bool forced;
        std::optional<BootstrapResult> stored;
        StatusLook want;
    };
    BootstrapResult pass = answer_with_links({"L2"});
    pass.node_type = "pass";
    for (const Case& c : {Case{false, answer_with_links({"L3", "L2", "LAN"}), {"WŁĄCZONY (L2+L3)", kGreen}},
                          Case{false, answer_with_links({"LAN", "L3"}), {"BRAMA L3 + LAN", kGreen}},
                          Case{false, answer_with_links({"L3"}), {"WŁĄCZONY (L3)", kGreen}},
                          Case{false, std::nullopt, {"WŁĄCZONY (L3)", kGreen}},
                          Case{false, answer_with_links({"l2"}), {"WŁĄCZONY (L3)", kGreen}},
                          Case{false, pass, {"WŁĄCZONY (L2+L3)", kGreen}},
                          Case{true, answer_with_links({"L2", "LAN"}), {"BRAMA L3 + LAN", kAmber}},
                          Case{true, answer_with_links({"L2"}), {"WYMUSZONY L3", kAmber}},
                          Case{true, std::nullopt, {"WYMUSZONY L3", kAmber}}}) {
        SCOPED_TRACE(c.want.label);
        EXPECT_EQ(status_after_mode_toggle(c.forced, c.stored), c.want);
    }
}

TEST(CleanClickedKey, TrimsDropsDashesAndBlanksAndUpperCases) {
    struct Case {
        std::string_view typed, want;
    };
    for (const Case& c :
         {Case{"  abcd-efgh 12-34\t", "ABCDEFGH1234"}, Case{"pass-48h-abcd1234", "PASS48HABCD1234"},
          Case{"ab\tcd", "AB\tCD"}, Case{"straße", "STRASSE"}, Case{"ab–cd", "AB–CD"}, Case{"", ""}}) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(clean_clicked_key(c.typed), c.want);
    }
}

class WindowActionsTest : public ::testing::Test {
protected:
    std::string settings_file() const {
        return testing::read_bytes(folder_.path() / "TARVO" / "client.json");
    }
    std::vector<LogEntry> log() { return shared_->lock()->log; }

    testing::TempFolder folder_;
    testing::ScopedEnvironment appdata_{"APPDATA", folder_.path().string()};
    std::shared_ptr<SharedState> shared_ = create_shared_state({"ABCDEFGH1234", false, false});
};

TEST_F(WindowActionsTest, ModeToggleWithThePowerOffSavesAndLogsOnly) {
    EXPECT_FALSE(toggle_force_l3(*shared_).has_value());
    {
        auto state = shared_->lock();
        EXPECT_TRUE(state->config.ForceL3);
        EXPECT_EQ(state->status_label, "WYŁĄCZONY");
        EXPECT_EQ(state->accent_color, kSlate);
        EXPECT_EQ(state->log.back().text,
                  "Włączono ręczne wymuszenie trybu L3 (mostek L2/EoIP wyłączony, karta TAP w trybie IDLE).");
        EXPECT_EQ(state->log.back().level, LogLevel::warning);
    }
    EXPECT_NE(settings_file().find("\"ForceL3\": true"), std::string::npos);

    EXPECT_FALSE(toggle_force_l3(*shared_).has_value());
    EXPECT_EQ(log().back().level, LogLevel::progress);
    EXPECT_EQ(
        log().back().text,
        "Przywrócono automatyczny wybór trybu L2/L3 na podstawie konfiguracji projektu w Orkiestratorze.");
    EXPECT_NE(settings_file().find("\"ForceL3\": false"), std::string::npos);
}

TEST_F(WindowActionsTest, ModeToggleWithThePowerOnRelabelsFromTheStoredAnswerAndRestartsPowerOn) {
    {
        auto state = shared_->lock();
        state->power_on = true;
        state->last_result = answer_with_links({"L2", "LAN"});
    }
    auto restart = toggle_force_l3(*shared_);
    ASSERT_TRUE(restart);
    EXPECT_EQ(shared_->lock()->status_label, "BRAMA L3 + LAN");
    EXPECT_EQ(shared_->lock()->accent_color, kAmber);
    EXPECT_TRUE(shared_->lock()->connecting) << "the restart is shown at once";

    shared_->lock()->connecting = false;  // the restart has run
    EXPECT_TRUE(toggle_force_l3(*shared_));
    EXPECT_EQ(shared_->lock()->status_label, "WŁĄCZONY (L2+L3)");
    EXPECT_EQ(shared_->lock()->accent_color, kGreen);
}

// A power-on or power-off waiting for its turn has, for the toggle, begun: a
// waiting power-on takes the new mode itself, a waiting power-off stays the
// last word. Neither gets a restart queued behind it.
TEST_F(WindowActionsTest, ModeToggleRestartsNothingWhileAPowerOnOrPowerOffWaits) {
    for (const bool power_off_waits : {false, true}) {
        SCOPED_TRACE(power_off_waits ? "power-off" : "power-on");
        {
            auto state = shared_->lock();
            state->power_on = true;
            state->connecting = !power_off_waits;
            state->disconnecting = power_off_waits;
        }
        EXPECT_FALSE(toggle_force_l3(*shared_).has_value());
        EXPECT_EQ(shared_->tunnel_turn().issued(), 0u);
        EXPECT_EQ(shared_->lock()->status_label, "WYŁĄCZONY") << "not relabelled";
    }
}

TEST_F(WindowActionsTest, PowerOnClickStoresTheKeyWithAutoConnectAndIsRefusedWhileOneIsInProgress) {
    std::string typed = " abcd-efgh 5678 ";
    auto ticket = click_power_on(*shared_, typed);
    ASSERT_TRUE(ticket);
    EXPECT_EQ(typed, "ABCDEFGH5678");
    EXPECT_TRUE(shared_->lock()->connecting);
    EXPECT_EQ(shared_->lock()->config, (ClientConfig{"ABCDEFGH5678", true, false}));
    EXPECT_EQ(settings_file(),
              "{\n  \"DeviceCode\": \"ABCDEFGH5678\",\n  \"AutoConnect\": true,\n  \"ForceL3\": false\n}");

    std::string again = "other-key";
    EXPECT_FALSE(click_power_on(*shared_, again));
    EXPECT_EQ(again, "other-key");
    EXPECT_EQ(shared_->lock()->config.DeviceCode, "ABCDEFGH5678");
}

TEST_F(WindowActionsTest, PowerOffClickIsShownAtOnceClearsAutoConnectAndIsRefusedWhileOneIsInProgress) {
    shared_->lock()->config.AutoConnect = true;
    auto first = click_power_off(*shared_);
    ASSERT_TRUE(first);
    EXPECT_TRUE(shared_->lock()->disconnecting);
    EXPECT_FALSE(shared_->lock()->config.AutoConnect);
    EXPECT_EQ(settings_file(),
              "{\n  \"DeviceCode\": \"ABCDEFGH1234\",\n  \"AutoConnect\": false,\n  \"ForceL3\": false\n}");
    EXPECT_FALSE(click_power_off(*shared_));
    std::string key = "ABCDEFGH1234";
    auto then_on = click_power_on(*shared_, key);
    ASSERT_TRUE(then_on);
    EXPECT_LT(first->ticket.number(), then_on->number()) << "queued in the order clicked";
}

TEST_F(WindowActionsTest, EscapeRestoresTheStoredKeyAndTheClearLinkEmptiesTheLog) {
    EXPECT_EQ(stored_key(*shared_), "ABCDEFGH1234");
    clear_event_log(*shared_);
    EXPECT_TRUE(log().empty());
}

}  // namespace
}  // namespace tarvo
