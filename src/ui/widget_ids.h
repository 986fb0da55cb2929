// The identifiers of the panel's reacting widgets and scroll areas.
#pragma once

namespace tarvo::ui::ids {

inline constexpr char kRootScroll[] = "tarvo_root_scroll";
inline constexpr char kLogScroll[] = "tarvo_logs_inner_scroll";
inline constexpr char kKeyTextEdit[] = "tarvo_key_text_edit";
inline constexpr char kKeyBoxClick[] = "key_box_click";
inline constexpr char kKeyEdit[] = "btn_key_edit";
inline constexpr char kForceL3[] = "btn_force_l3";
inline constexpr char kPowerOn[] = "btn_power_on";
inline constexpr char kPowerOff[] = "btn_power_off";
inline constexpr char kClearLog[] = "btn_clear_log";

}  // namespace tarvo::ui::ids
