// The main panel driven frame by frame in a toolkit context without a window
// or a renderer: clicks, keys and scrolling as the user makes them.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cfloat>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "support/scoped_environment.h"
#include "support/temp_folder.h"
#include "ui/client_app.h"

namespace tarvo::ui {
namespace {

// Index of each key in the toolkit's key array.
constexpr int kEnterKey = 1, kEscapeKey = 2;

// The operations started, in order, with their tickets' numbers.
using Started = std::vector<std::pair<std::string, std::uint64_t>>;

class RecordingOperations final : public ClientOperations {
public:
    void start_worker(bool) override {}
    void start_power_on(TunnelTurn::Ticket ticket) override { start("on", std::move(ticket)); }
    void start_power_off(PowerOffRequest request) override { start("off", std::move(request.ticket)); }
    void save_key(std::string& key_input, bool& editing_key) override {
        saved_keys.push_back(key_input);
        editing_key = false;
    }
    void tear_down_on_exit() override {}
    Started started;
    std::vector<std::string> saved_keys;

private:
    void start(std::string kind, TunnelTurn::Ticket ticket) {
        started.emplace_back(std::move(kind), ticket.number());
        tickets_.push_back(std::move(ticket));  // never run: the operations stay in progress
    }
    std::vector<TunnelTurn::Ticket> tickets_;
};

class MainPanelTest : public ::testing::Test {
protected:
    MainPanelTest() {
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DeltaTime = 1.0f / 60;
        io.KeyMap[ImGuiKey_Enter] = kEnterKey;
        io.KeyMap[ImGuiKey_Escape] = kEscapeKey;
        auto operations = std::make_unique<RecordingOperations>();
        ops_ = operations.get();
        app_ = std::make_unique<ClientApp>("ABCDEFGH1234",
                                           create_shared_state({"ABCDEFGH1234", false, false}),
                                           std::move(operations), load_font_faces());
        resize(780, 810);
        frame();  // asks for the fonts the panel draws with, baked before the next frame
    }
    ~MainPanelTest() override { ImGui::DestroyContext(context_); }

    void resize(float width, float height) { ImGui::GetIO().DisplaySize = ImVec2(width, height); }

    // A new toolkit context and application over the same shared state, with
    // only the fonts the window bakes before its first frame.
    void restart_app() {
        ImGui::DestroyContext(context_);
        context_ = ImGui::CreateContext();
        ImGui::GetIO().IniFilename = nullptr;
        ImGui::GetIO().DeltaTime = 1.0f / 60;
        app_ = std::make_unique<ClientApp>(app_->key_input, app_->state,
                                           std::make_unique<RecordingOperations>(), load_font_faces());
        app_->fonts.bake(*ImGui::GetIO().Fonts,
                         {{FontFamily::proportional, 52}, {FontFamily::monospace, 52}});
    }

    // One whole frame; fonts missing from the atlas are baked before it.
    FrameValues frame() {
        ImGuiIO& io = ImGui::GetIO();
        if (app_->fonts.rebuild_if_needed(*io.Fonts, false) || !io.Fonts->IsBuilt()) {
            unsigned char* pixels;
            int w, h;
            io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        }
        ImGui::NewFrame();
        FrameValues values;
        values.layout = frame_layout(io.DisplaySize.y);
        draw_window_contents(*app_, values);
        ImGui::Render();
        return values;
    }

    // Press in one frame, release in the next: the release frame clicks.
    FrameValues click(ImVec2 at) {
        ImGuiIO& io = ImGui::GetIO();
        io.MousePos = at;
        frame();
        io.MouseDown[0] = true;
        frame();
        io.MouseDown[0] = false;
        return frame();
    }

    // A click, and the update's action on its requests after that frame.
    void click_and_act(ImVec2 at) { act_on_requests(*app_, click(at)); }

    void press(int key) {
        ImGui::GetIO().KeysDown[key] = true;
        frame();
        ImGui::GetIO().KeysDown[key] = false;
        frame();
    }

    void type(std::string_view text) {
        ImGui::GetIO().AddInputCharactersUTF8(std::string(text).c_str());
        frame();
    }

    static ImGuiWindow* window_named(std::string_view part) {
        for (ImGuiWindow* window : GImGui->Windows)
            if (std::string_view(window->Name).find(part) != std::string_view::npos) return window;
        return nullptr;
    }

    void push_rows(int n) {
        auto state = app_->state->lock();
        for (int i = 0; i < n; ++i)
            push_log(*state,
                     "Wiersz dziennika numer " + std::to_string(i) +
                         " z tekstem, który się zawija w wąskim oknie.",
                     LogLevel::progress);
    }

    // Positions in the 780 x 810 window (s = 0, w = 0, margin 24).
    inline static const ImVec2 kKeyBox{200, 212};
    inline static const ImVec2 kKeyEdit{650, 212};
    inline static const ImVec2 kPowerOn{150, 278};
    inline static const ImVec2 kPowerOff{500, 278};
    inline static const ImVec2 kModeToggle{650, 99};
    inline static const ImVec2 kClearLog{700, 614};

    testing::TempFolder folder_;
    testing::ScopedEnvironment appdata_{"APPDATA", folder_.path().string()};
    ImGuiContext* context_ = nullptr;
    RecordingOperations* ops_ = nullptr;
    std::unique_ptr<ClientApp> app_;
};

TEST_F(MainPanelTest, AClickOnTheKeyBoxOpensTheEditorWithTheKeySelected) {
    frame();
    click(kKeyBox);
    EXPECT_TRUE(app_->editing_key);
    frame();
    frame();
    EXPECT_FALSE(app_->focus_key_pending);
    ImGuiInputTextState* editor = ImGui::GetInputTextState(GImGui->ActiveId);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->GetSelectionStart(), 0);
    EXPECT_EQ(editor->GetSelectionEnd(), 12);
    EXPECT_EQ(editor->GetCursorPos(), 12);
}

// Once open, a click in the editor places the caret: only the opening selects
// the whole key, also when the editor had been open before.
TEST_F(MainPanelTest, AClickInTheOpenEditorPlacesTheCaret) {
    frame();
    click(kKeyBox);
    frame();
    frame();
    click(ImVec2(390, 120));  // the header: the editor loses the focus and stays open
    ASSERT_TRUE(app_->editing_key);
    ASSERT_EQ(ImGui::GetInputTextState(GImGui->ActiveId), nullptr) << "the editor is not active";
    // The key's text starts at x = 60; a click just after its fourth character.
    const ImFont* font = app_->fonts.font(FontFamily::monospace, 19);
    click(ImVec2(60 + font->CalcTextSizeA(font->FontSize, FLT_MAX, 0, "ABCD").x + 1, 212));
    ImGuiInputTextState* editor = ImGui::GetInputTextState(GImGui->ActiveId);
    ASSERT_NE(editor, nullptr);
    EXPECT_FALSE(editor->HasSelection());
    EXPECT_EQ(editor->GetCursorPos(), 4);

    press(kEnterKey);
    click(kKeyEdit);  // opened again: the whole key is selected once more
    frame();
    frame();
    editor = ImGui::GetInputTextState(GImGui->ActiveId);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->GetSelectionStart(), 0);
    EXPECT_EQ(editor->GetSelectionEnd(), 12);
    EXPECT_EQ(editor->GetCursorPos(), 12);
}

TEST_F(MainPanelTest, EnterSavesTheTypedKey) {
    frame();
    click(kKeyEdit);
    frame();
    frame();
    type("wxyz-5678-qrst");  // replaces the selected key
    press(kEnterKey);
    EXPECT_FALSE(app_->editing_key);
    EXPECT_EQ(ops_->saved_keys, std::vector<std::string>{"wxyz-5678-qrst"});
}

TEST_F(MainPanelTest, EscapeDropsTheTypedKeyAndSavesNothing) {
    frame();
    click(kKeyBox);
    frame();
    frame();
    type("zzz");
    EXPECT_EQ(app_->key_input, "zzz");
    press(kEscapeKey);
    EXPECT_FALSE(app_->editing_key);
    EXPECT_EQ(app_->key_input, "ABCDEFGH1234");
    EXPECT_EQ(app_->state->lock()->config.DeviceCode, "ABCDEFGH1234");
    EXPECT_TRUE(ops_->saved_keys.empty());
    EXPECT_EQ(testing::read_bytes(folder_.path() / "TARVO" / "client.json"), "");
}

TEST_F(MainPanelTest, EnterAndEscapeTogetherSave) {
    frame();
    click(kKeyBox);
    frame();
    frame();
    type("qqqq1111wwww");
    ImGui::GetIO().KeysDown[kEnterKey] = ImGui::GetIO().KeysDown[kEscapeKey] = true;
    frame();
    EXPECT_EQ(ops_->saved_keys, std::vector<std::string>{"qqqq1111wwww"});
    EXPECT_EQ(app_->key_input, "qqqq1111wwww") << "not restored by the Escape of the same frame";
}

TEST_F(MainPanelTest, PowerOnClickWhileConnectingDoesNothing) {
    app_->state->lock()->connecting = true;
    app_->key_input = "other-key";
    frame();
    const FrameValues values = click(kPowerOn);
    EXPECT_FALSE(values.power_on_requested);
    EXPECT_EQ(app_->state->lock()->config.DeviceCode, "ABCDEFGH1234");
}

TEST_F(MainPanelTest, PowerOnClickWhileEditingSavesTheKeyThenRequestsPowerOn) {
    frame();
    click(kKeyBox);
    frame();
    frame();
    type("abcd-efgh-9999");
    const FrameValues values = click(kPowerOn);
    EXPECT_TRUE(values.power_on_requested);
    EXPECT_FALSE(app_->editing_key);
    EXPECT_EQ(ops_->saved_keys, std::vector<std::string>{"abcd-efgh-9999"});
    act_on_requests(*app_, values);
    EXPECT_EQ(ops_->started, (Started{{"on", 0}}));
    EXPECT_EQ(app_->state->lock()->config, (ClientConfig{"ABCDEFGH9999", true, false}));
}

TEST_F(MainPanelTest, PowerOffClickIsIgnoredWhileDisconnecting) {
    frame();
    EXPECT_TRUE(click(kPowerOff).power_off_requested);
    app_->state->lock()->disconnecting = true;
    frame();
    EXPECT_FALSE(click(kPowerOff).power_off_requested);
}

TEST_F(MainPanelTest, AClickedPowerOnIsShownFromTheNextFrameWhichRefusesASecondClick) {
    frame();
    click_and_act(kPowerOn);
    EXPECT_TRUE(app_->state->lock()->connecting);
    EXPECT_FALSE(click(kPowerOn).power_on_requested) << "the next frame draws it in progress";
    EXPECT_EQ(ops_->started, (Started{{"on", 0}}));
}

TEST_F(MainPanelTest, PowerOnThenPowerOffAreStartedInTheOrderClicked) {
    frame();
    click_and_act(kPowerOn);
    click_and_act(kPowerOff);
    click_and_act(kPowerOff);
    click_and_act(kPowerOn);
    EXPECT_EQ(ops_->started, (Started{{"on", 0}, {"off", 1}}));
    auto state = app_->state->lock();
    EXPECT_TRUE(state->connecting);
    EXPECT_TRUE(state->disconnecting);
}

// With the power on, the toggle's restart is the frame's one power-on.
TEST_F(MainPanelTest, AToggleAndAPowerOnClickInOneFrameStartOnePowerOn) {
    app_->state->lock()->power_on = true;
    FrameValues values = frame();
    values.force_l3_toggle_requested = true;
    values.power_on_requested = true;
    act_on_requests(*app_, values);
    EXPECT_EQ(ops_->started, (Started{{"on", 0}}));
}

TEST_F(MainPanelTest, ModeToggleIsRequestedWhateverThePower) {
    frame();
    EXPECT_TRUE(click(kModeToggle).force_l3_toggle_requested);
    app_->state->lock()->power_on = true;
    EXPECT_TRUE(click(kModeToggle).force_l3_toggle_requested);
}

float log_content_height() {
    ImGuiWindow* log = nullptr;
    for (ImGuiWindow* window : GImGui->Windows)
        if (std::string_view(window->Name).find("tarvo_logs_inner_scroll") != std::string_view::npos)
            log = window;
    return log ? log->DC.CursorMaxPos.y - log->DC.CursorStartPos.y : -1;
}

TEST_F(MainPanelTest, ClearLinkEmptiesTheLogAtOnceAndTheListTheFrameAfter) {
    push_rows(3);
    frame();
    const float rows = log_content_height();
    EXPECT_GT(rows, 0);
    click(kClearLog);
    EXPECT_TRUE(app_->state->lock()->log.empty());
    EXPECT_GT(log_content_height(), 0) << "the clicking frame lists its snapshot";
    frame();
    EXPECT_LE(log_content_height(), 0);
}

TEST_F(MainPanelTest, LogSticksToTheBottomUntilScrolledUp) {
    push_rows(60);
    for (int i = 0; i < 3; ++i) frame();
    ImGuiWindow* log = window_named("tarvo_logs_inner_scroll");
    ASSERT_NE(log, nullptr);
    ASSERT_GT(log->ScrollMax.y, 0);
    EXPECT_EQ(log->Scroll.y, log->ScrollMax.y);

    push_rows(5);
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(log->Scroll.y, log->ScrollMax.y) << "follows new rows";

    ImGui::GetIO().MousePos = ImVec2(300, 650);
    ImGui::GetIO().MouseWheel = 3;
    frame();
    frame();
    const float scrolled = log->Scroll.y;
    EXPECT_LT(scrolled, log->ScrollMax.y);
    push_rows(5);
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(log->Scroll.y, scrolled) << "stays put after a scroll up";
}

// The start on a 1920 x 1080 screen with a full log: the first frame at
// 760 x 690 with only the fonts baked before it, the next at 780 x 810 (the
// first-frame resize) drawn with the 690-px frame's sizes, so its rows are
// 12.5 px lines, then with its own. The last row is a single line.
TEST_F(MainPanelTest, AFullLogStaysAtItsNewestRowThroughTheFirstFrameResize) {
    {
        auto state = app_->state->lock();
        for (int i = 0; i < 499; ++i)
            push_log(*state,
                     "Zdarzenie " + std::to_string(i) +
                         ": próbka ruchu, żółć gęślą jaźń — wiersz dość długi, by się zawinął w oknie.",
                     LogLevel::progress);
        push_log(*state, "Koniec.", LogLevel::neutral);
    }
    restart_app();
    resize(760, 690);
    frame();
    resize(780, 810);
    for (int i = 0; i < 4; ++i) frame();
    ImGuiWindow* log = window_named("tarvo_logs_inner_scroll");
    ASSERT_NE(log, nullptr);
    ASSERT_GT(log->ScrollMax.y, 0);
    EXPECT_EQ(log->Scroll.y, log->ScrollMax.y);
    push_rows(3);
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(log->Scroll.y, log->ScrollMax.y) << "follows new rows";
}

TEST_F(MainPanelTest, ShortWindowScrollsTheWholePanelWithAFixedLog) {
    resize(780, 500);
    push_rows(20);
    for (int i = 0; i < 3; ++i) frame();
    ImGuiWindow* root = window_named("tarvo_root_scroll");
    ImGuiWindow* log = window_named("tarvo_logs_inner_scroll");
    ASSERT_NE(root, nullptr);
    ASSERT_NE(log, nullptr);
    EXPECT_GT(root->ScrollMax.y, 0);
    // 140-point log section at s = 1: box from 34 to 128, scroll area inset by 7.
    EXPECT_FLOAT_EQ(log->Size.y, 80);

    resize(780, 810);
    for (int i = 0; i < 3; ++i) frame();
    EXPECT_EQ(root->ScrollMax.y, 0);
    // The log takes what is left: 810 - 2 x 24 - 683 + 115 = 194 points, box 194 - 42 - 16.
    EXPECT_FLOAT_EQ(log->Size.y, 194 - 42 - 16 - 20);
}

TEST_F(MainPanelTest, ShortWindowScrollsByDragOnTheBackground) {
    resize(780, 500);
    for (int i = 0; i < 3; ++i) frame();
    ImGuiWindow* root = window_named("tarvo_root_scroll");
    ASSERT_NE(root, nullptr);
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = ImVec2(390, 305);  // the gap between the controls and the cards
    frame();
    io.MouseDown[0] = true;
    frame();
    for (int step = 0; step < 4; ++step) {
        io.MousePos.y -= 10;
        frame();
    }
    io.MouseDown[0] = false;
    frame();
    frame();
    EXPECT_FLOAT_EQ(root->Scroll.y, 40);
    EXPECT_FALSE(app_->editing_key);
}

}  // namespace
}  // namespace tarvo::ui
