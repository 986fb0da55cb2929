// The status cards, the action buttons and the event log's rows.
#pragma once

#include <imgui.h>
#include <imgui_internal.h>

#include <string>
#include <vector>

#include "main/app_state.h"
#include "ui/fonts.h"
#include "ui/layout.h"
#include "ui/looks.h"
#include "ui/painter.h"

namespace tarvo::ui {

// The rectangle with its edges on whole pixels, so its border stays sharp.
inline ImRect snapped(const ImRect& r) {
    const PixelBox b = snap_to_pixels(PixelBox{r.Min.x, r.Min.y, r.Max.x, r.Max.y});
    return ImRect(b.left, b.top, b.right, b.bottom);
}

// `text` cut to `max_width` points in `font`.
std::string elide_to(const DrawScale& scale, std::string_view text, const ImFont* font,
                     float max_width_points);

void draw_status_card(const DrawScale& scale, ImDrawList& painter, ImRect rect, const StatusCard& card,
                      float pulse_time);

struct ButtonResponse {
    bool hovered = false;
    bool held = false;
    bool clicked = false;
};

// `corner_radius` and `font_size` in points; `rect` in pixels.
ButtonResponse draw_action_button(const DrawScale& scale, ImRect rect, const char* id, const ButtonLook& look,
                                  float corner_radius, float font_size);

void draw_log_list(const DrawScale& scale, float layout_scale, const std::vector<LogEntry>& entries,
                   float font_size);

}  // namespace tarvo::ui
