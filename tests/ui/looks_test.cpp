#include "ui/looks.h"

#include <gtest/gtest.h>

namespace tarvo::ui {
namespace {

constexpr Color kWhite{255, 255, 255, 255};

TEST(ButtonLooks, PowerOnFollowsTheSnapshot) {
    struct Case {
        bool power_on, connecting;
        std::string_view label;
        std::uint8_t border_alpha;
    };
    for (const Case& c :
         {Case{false, true, "WŁĄCZANIE TUNELU...", 65}, Case{true, true, "WŁĄCZANIE TUNELU...", 195},
          Case{true, false, "WŁĄCZONY (POŁĄCZONO)", 195}, Case{false, false, "WŁĄCZ TUNEL SD-WAN", 65}}) {
        SCOPED_TRACE(c.label);
        const ButtonLook look = power_on_button_look(c.power_on, c.connecting);
        EXPECT_EQ(look.label, c.label);
        EXPECT_EQ(look.fill, (Color{16, 185, 129, 255}));
        EXPECT_EQ(look.hover_fill, (Color{5, 150, 105, 255}));
        EXPECT_EQ(look.text, kWhite);
        EXPECT_EQ(look.border, (Color{255, 255, 255, c.border_alpha}));
        EXPECT_EQ(look.icon, ButtonIcon::GreenDot);
    }
}

TEST(ButtonLooks, PowerOffFollowsTheSnapshot) {
    struct Case {
        bool power_on, disconnecting;
        ButtonLook want;
    };
    const Color dark_red{153, 27, 27, 255}, red{239, 68, 68, 255}, edge{45, 62, 90, 255};
    for (const Case& c :
         {Case{true, true, {"WYŁĄCZANIE...", dark_red, red, kWhite, edge, ButtonIcon::DarkDot}},
          Case{false, true, {"WYŁĄCZANIE...", dark_red, red, kWhite, edge, ButtonIcon::DarkDot}},
          Case{true,
               false,
               {"WYŁĄCZ TUNEL SD-WAN", dark_red, red, kWhite, {255, 255, 255, 65}, ButtonIcon::RedDot}},
          Case{false,
               false,
               {"WYŁĄCZONY (ROZŁĄCZONO)",
                {13, 20, 36, 255},
                {30, 43, 66, 255},
                {148, 163, 184, 255},
                edge,
                ButtonIcon::SlateDot}}}) {
        SCOPED_TRACE(c.want.label);
        EXPECT_EQ(power_off_button_look(c.power_on, c.disconnecting), c.want);
    }
}

TEST(ButtonLooks, ModeToggleAndKeyButton) {
    const Color amber{245, 158, 11, 255};
    EXPECT_EQ(
        mode_toggle_look(true),
        (ButtonLook{"Wymuszony L3 (TAP Idle)", amber, amber, {15, 23, 42, 255}, amber, ButtonIcon::DarkDot}));
    EXPECT_EQ(mode_toggle_look(false), (ButtonLook{"Auto L2/L3 (Z projektu)",
                                                   {13, 20, 36, 255},
                                                   {30, 43, 66, 255},
                                                   {6, 182, 212, 255},
                                                   {45, 62, 90, 255},
                                                   ButtonIcon::NoIcon}));
    EXPECT_EQ(key_button_look(true).label, "Zapisz klucz");
    EXPECT_EQ(key_button_look(true).fill, (Color{59, 130, 246, 255}));
    EXPECT_EQ(key_button_look(false).label, "Zmień klucz");
    EXPECT_EQ(key_button_look(false).border, (Color{45, 62, 90, 255}));
}

TEST(ButtonLooks, IconColours) {
    EXPECT_EQ(button_icon_color(ButtonIcon::GreenDot), (Color{52, 211, 153, 255}));
    EXPECT_EQ(button_icon_color(ButtonIcon::RedDot), (Color{248, 113, 113, 255}));
    EXPECT_EQ(button_icon_color(ButtonIcon::SlateDot), (Color{100, 116, 139, 255}));
    EXPECT_EQ(button_icon_color(ButtonIcon::DarkDot), (Color{15, 23, 42, 255}));
}

TEST(CardLook, OnlineWinsOverStandby) {
    EXPECT_EQ(card_look({"t", "x", true, true}).badge, "ONLINE");
    EXPECT_EQ(card_look({"t", "x", true, true}).state, (Color{16, 185, 129, 255}));
    EXPECT_EQ(card_look({"t", "x", false, true}).badge, "STANDBY");
    EXPECT_EQ(card_look({"t", "x", false, true}).border, (Color{245, 158, 11, 130}));
    const CardLook offline = card_look({"t", "x", false, false});
    EXPECT_EQ(offline.badge, "OFFLINE");
    EXPECT_EQ(offline.border, (Color{45, 62, 90, 255}));
    EXPECT_FALSE(offline.pulse);
}

// Ten points per character, the ellipsis included.
float ten_per_character(std::string_view text) {
    float n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80 ? 10.0f : 0.0f;
    return n;
}

TEST(ElideTextToWidth, Cases) {
    struct Case {
        std::string_view text;
        float width;
        std::string_view want;
    };
    for (const Case& c : {Case{"", 100, ""}, Case{"abc", 12, ""}, Case{"abc", 30, "abc"},
                          Case{"abcdef", 30, "ab…"}, Case{"abcdef", 35, "ab…"}, Case{"abcdef", 19.5f, "…"},
                          Case{"abcdef", 13, "…"}, Case{"żółćęśąźń", 50, "żółć…"}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(elide_text_to_width(c.text, c.width, ten_per_character), c.want);
    }
}

TEST(ElideTextToWidth, MeasuresAtMostLogTwoCandidates) {
    int calls = 0;
    const std::string text(1000, 'x');
    elide_text_to_width(text, 500, [&](std::string_view t) {
        ++calls;
        return ten_per_character(t);
    });
    EXPECT_LE(calls, 1 + 10);  // the whole text, then ceil(log2(1001)) candidates
}

}  // namespace
}  // namespace tarvo::ui
