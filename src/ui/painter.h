// Small drawing helpers over the toolkit's painter, in physical pixels.
#pragma once

#include <imgui.h>

#include <string_view>

#include "main/app_state.h"

namespace tarvo::ui {

inline ImU32 to_imgui(Color c) { return IM_COL32(c.r, c.g, c.b, c.a); }
inline ImU32 rgba(int r, int g, int b, int a = 255) { return IM_COL32(r, g, b, a); }

ImVec2 text_size(const ImFont* font, std::string_view text);
inline float text_width(const ImFont* font, std::string_view text) { return text_size(font, text).x; }

enum class Anchor { left_centre, centre, right_centre };

// Draws one unwrapped line placed by its anchor at `point`.
void draw_text(ImDrawList& painter, const ImFont* font, Anchor anchor, ImVec2 point, ImU32 colour,
               std::string_view text);

}  // namespace tarvo::ui
