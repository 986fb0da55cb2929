// The window icon from the PNG the program carries.
#pragma once

#include <optional>
#include <string_view>

#include "platform/window.h"

namespace tarvo::ui {

// RGBA pixels of a PNG image, or nothing when it does not decode.
std::optional<platform::WindowIcon> decode_window_icon(std::string_view png);

}  // namespace tarvo::ui
