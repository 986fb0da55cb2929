#include "ui/looks.h"

#include <vector>

#include "text/unicode_text.h"

namespace tarvo::ui {

namespace {

constexpr Color kWhite{255, 255, 255, 255};
constexpr Color kPanelDark{13, 20, 36, 255};
constexpr Color kHoverDark{30, 43, 66, 255};
constexpr Color kEdge{45, 62, 90, 255};
constexpr Color kPowerOnHover{5, 150, 105, 255};
constexpr Color kPowerOffFill{153, 27, 27, 255};
constexpr Color kSnow{248, 250, 252, 255};
constexpr Color kInk{15, 23, 42, 255};
constexpr Color kBlue{59, 130, 246, 255};
constexpr Color kBlueHover{37, 99, 235, 255};

constexpr Color with_alpha(Color c, std::uint8_t a) { return Color{c.r, c.g, c.b, a}; }

}  // namespace

Color button_icon_color(ButtonIcon icon) {
    switch (icon) {
        case ButtonIcon::GreenDot: return Color{52, 211, 153, 255};
        case ButtonIcon::RedDot: return Color{248, 113, 113, 255};
        case ButtonIcon::SlateDot: return kSlate;
        case ButtonIcon::DarkDot: return kInk;
        case ButtonIcon::NoIcon: break;
    }
    return Color{0, 0, 0, 0};
}

ButtonLook power_on_button_look(bool power_on, bool connecting) {
    ButtonLook look{"WŁĄCZ TUNEL SD-WAN", kGreen, kPowerOnHover, kWhite, with_alpha(kWhite, 65),
                    ButtonIcon::GreenDot};
    if (connecting) {
        look.label = "WŁĄCZANIE TUNELU...";
        look.border = with_alpha(kWhite, power_on ? 195 : 65);
    } else if (power_on) {
        look.label = "WŁĄCZONY (POŁĄCZONO)";
        look.border = with_alpha(kWhite, 195);
    }
    return look;
}

ButtonLook power_off_button_look(bool power_on, bool disconnecting) {
    if (disconnecting)
        return ButtonLook{"WYŁĄCZANIE...", kPowerOffFill, kRed, kWhite, kEdge, ButtonIcon::DarkDot};
    if (power_on)
        return ButtonLook{"WYŁĄCZ TUNEL SD-WAN",  kPowerOffFill,     kRed, kWhite,
                          with_alpha(kWhite, 65), ButtonIcon::RedDot};
    return ButtonLook{"WYŁĄCZONY (ROZŁĄCZONO)", kPanelDark, kHoverDark, kMutedGrey, kEdge,
                      ButtonIcon::SlateDot};
}

ButtonLook mode_toggle_look(bool force_l3) {
    if (force_l3)
        return ButtonLook{"Wymuszony L3 (TAP Idle)", kAmber, kAmber, kInk, kAmber, ButtonIcon::DarkDot};
    return ButtonLook{"Auto L2/L3 (Z projektu)", kPanelDark, kHoverDark, kCyan, kEdge, ButtonIcon::NoIcon};
}

ButtonLook key_button_look(bool editing_key) {
    if (editing_key) return ButtonLook{"Zapisz klucz", kBlue, kBlueHover, kSnow, kCyan, ButtonIcon::NoIcon};
    return ButtonLook{"Zmień klucz", kPanelDark, kHoverDark, kSnow, kEdge, ButtonIcon::NoIcon};
}

CardLook card_look(const StatusCard& card) {
    if (card.online) return CardLook{"ONLINE", kGreen, with_alpha(kGreen, 130), true};
    if (card.standby) return CardLook{"STANDBY", kAmber, with_alpha(kAmber, 130), true};
    return CardLook{"OFFLINE", kSlate, kEdge, false};
}

std::string elide_text_to_width(std::string_view text, float max_width, const TextWidth& width_of) {
    if (text.empty() || max_width <= 12) return {};
    if (width_of(text) <= max_width) return std::string(text);
    // Byte offsets of the character boundaries, so no character is split.
    std::vector<std::size_t> ends;
    for (std::size_t at = 0; at < text.size();) {
        at += unicode::next_character(text.substr(at)).length;
        ends.push_back(at);
    }
    const auto candidate = [&](std::size_t chars) {
        return std::string(text.substr(0, chars == 0 ? 0 : ends[chars - 1])) + "…";
    };
    std::size_t lo = 0, hi = ends.size();
    while (lo < hi) {
        const std::size_t mid = (lo + hi + 1) / 2;
        if (width_of(candidate(mid)) <= max_width) lo = mid;
        else hi = mid - 1;
    }
    return candidate(lo);
}

}  // namespace tarvo::ui
