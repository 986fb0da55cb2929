// How the panel's buttons and cards look for a snapshot of the shared state,
// and the texts cut to a width. Pure rules, no toolkit.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "main/app_state.h"

namespace tarvo::ui {

enum class ButtonIcon { NoIcon = 0, GreenDot = 1, RedDot = 2, SlateDot = 3, DarkDot = 4 };

Color button_icon_color(ButtonIcon icon);

struct ButtonLook {
    std::string_view label;
    Color fill, hover_fill, text, border;
    ButtonIcon icon = ButtonIcon::NoIcon;
    friend bool operator==(const ButtonLook&, const ButtonLook&) = default;
};

ButtonLook power_on_button_look(bool power_on, bool connecting);
ButtonLook power_off_button_look(bool power_on, bool disconnecting);
ButtonLook mode_toggle_look(bool force_l3);
ButtonLook key_button_look(bool editing_key);

struct CardLook {
    std::string_view badge;
    Color state;
    Color border;
    bool pulse = false;
};

CardLook card_look(const StatusCard& card);

// The laid-out width of a text in one unwrapped line.
using TextWidth = std::function<float(std::string_view)>;

// The text itself when it fits; else its longest prefix (whole characters)
// followed by "…" that fits, or "…" alone; empty for an empty text or a
// width of 12 or less.
std::string elide_text_to_width(std::string_view text, float max_width, const TextWidth& width_of);

}  // namespace tarvo::ui
