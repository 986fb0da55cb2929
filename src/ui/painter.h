// Small drawing helpers over the toolkit's painter, in physical pixels.
#pragma once

#include <imgui.h>

#include <string_view>

#include "main/app_state.h"
#include "ui/fonts.h"

namespace tarvo::ui {

inline ImU32 to_imgui(Color c) { return IM_COL32(c.r, c.g, c.b, c.a); }
inline ImU32 rgba(int r, int g, int b, int a = 255) { return IM_COL32(r, g, b, a); }

// Pixels per point and the fonts: what every drawing routine needs.
struct DrawScale {
    FontCache& fonts;
    float px = 1;
    float operator()(float points) const { return points * px; }
    ImFont* proportional(float points) const { return fonts.font(FontFamily::proportional, points * px); }
    ImFont* monospace(float points) const { return fonts.font(FontFamily::monospace, points * px); }
};

// Text is measured and drawn through the scale, whose font cache bakes the
// characters of every text at the size it is drawn.
ImVec2 text_size(const DrawScale& scale, const ImFont* font, std::string_view text);
inline float text_width(const DrawScale& scale, const ImFont* font, std::string_view text) {
    return text_size(scale, font, text).x;
}

enum class Anchor { left_centre, centre, right_centre };

// Draws one unwrapped line placed by its anchor at `point`.
void draw_text(const DrawScale& scale, ImDrawList& painter, const ImFont* font, Anchor anchor, ImVec2 point,
               ImU32 colour, std::string_view text);

}  // namespace tarvo::ui
