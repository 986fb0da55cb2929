// The header's animated hub tile.
#pragma once

#include <imgui.h>
#include <imgui_internal.h>

namespace tarvo::ui {

// Paints the tile in `tile` (pixels); `px` pixels per point.
void draw_hub_tile(ImDrawList& painter, ImRect tile, bool power_on, float t, float px);

}  // namespace tarvo::ui
