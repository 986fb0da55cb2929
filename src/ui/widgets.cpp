#include "ui/widgets.h"

#include <algorithm>
#include <cmath>

#include "ui/layout.h"
#include "ui/painter.h"

namespace tarvo::ui {

namespace {

ImU32 with_alpha(Color c, float alpha) {
    return IM_COL32(c.r, c.g, c.b, static_cast<int>(std::clamp(alpha, 0.0f, 255.0f)));
}

}  // namespace

std::string elide_to(const DrawScale& scale, std::string_view text, const ImFont* font,
                     float max_width_points) {
    return elide_text_to_width(text, max_width_points,
                               [&](std::string_view t) { return text_width(scale, font, t) / scale.px; });
}

void draw_status_card(const DrawScale& scale, ImDrawList& painter, ImRect rect, const StatusCard& card,
                      float pulse_time) {
    rect = snapped(rect);
    const CardGeometry g = card_geometry((rect.Max.y - rect.Min.y) / scale.px);
    const CardLook look = card_look(card);
    painter.AddRectFilled(rect.Min, rect.Max, rgba(13, 20, 36), scale(14));
    painter.AddRect(rect.Min, rect.Max, to_imgui(look.border), scale(14), 0, scale(1.5f));
    const ImVec2 dot(rect.Min.x + scale(g.dot_dx), rect.Min.y + scale(g.dot_dy));
    if (look.pulse) {
        const float f = pulse_phase(pulse_time);
        painter.AddCircle(dot, scale((11.5f * f + 7) * g.k),
                          with_alpha(look.state, std::trunc((1 - f) * 140)), 0, scale(1.4f));
        painter.AddCircleFilled(dot, scale(13 * g.k), with_alpha(look.state, 40));
        painter.AddCircleFilled(dot, scale(9.5f * g.k), with_alpha(look.state, 90));
    }
    painter.AddCircleFilled(dot, scale(7 * g.k), to_imgui(look.state));
    painter.AddCircleFilled(ImVec2(dot.x - scale(2 * g.k), dot.y - scale(2 * g.k)), scale(2 * g.k),
                            rgba(255, 255, 255, 160));
    draw_text(scale, painter, scale.proportional(g.badge_font), Anchor::right_centre,
              ImVec2(rect.Max.x - scale(g.inset), dot.y), to_imgui(look.state), look.badge);
    const float width = card_text_width((rect.Max.x - rect.Min.x) / scale.px, g.inset);
    ImFont* title_font = scale.proportional(g.title_font);
    ImFont* text_font = scale.proportional(g.text_font);
    draw_text(scale, painter, title_font, Anchor::left_centre,
              ImVec2(rect.Min.x + scale(g.inset), rect.Min.y + scale(g.title_dy)), rgba(248, 250, 252),
              elide_to(scale, card.title, title_font, width));
    draw_text(scale, painter, text_font, Anchor::left_centre,
              ImVec2(rect.Min.x + scale(g.inset), rect.Min.y + scale(g.text_dy)), rgba(148, 163, 184),
              elide_to(scale, card.text, text_font, width));
}

ButtonResponse draw_action_button(const DrawScale& scale, ImRect rect, const char* id, const ButtonLook& look,
                                  float corner_radius, float font_size) {
    rect = snapped(rect);
    ImGuiWindow* window = ImGui::GetCurrentWindow();
    const ImGuiID widget = window->GetID(id);
    ButtonResponse response;
    const bool visible = ImGui::ItemAdd(rect, widget);
    if (visible) {
        response.clicked = ImGui::ButtonBehavior(rect, widget, &response.hovered, &response.held);
        ImRect r = rect;
        if (response.held) r.Translate(ImVec2(0, scale(1)));
        ImDrawList& painter = *window->DrawList;
        painter.AddRectFilled(r.Min, r.Max, to_imgui(response.hovered ? look.hover_fill : look.fill),
                              scale(corner_radius));
        painter.AddRect(r.Min, r.Max, to_imgui(look.border), scale(corner_radius), 0, scale(1.4f));
        ImFont* font = scale.proportional(font_size);
        const ImVec2 c = r.GetCenter();
        if (look.icon == ButtonIcon::NoIcon) {
            draw_text(scale, painter, font, Anchor::centre, c, to_imgui(look.text), look.label);
        } else {
            const ImVec2 label = text_size(scale, font, look.label);
            const IconGeometry g = button_icon_geometry(c.x / scale.px, label.x / scale.px);
            painter.AddCircleFilled(ImVec2(scale(g.dot_x), c.y), scale(6.5f), rgba(255, 255, 255, 70));
            painter.AddCircleFilled(ImVec2(scale(g.dot_x), c.y), scale(4.8f),
                                    to_imgui(button_icon_color(look.icon)));
            if (font)
                painter.AddText(font, font->FontSize, ImVec2(scale(g.label_x), c.y - label.y / 2),
                                to_imgui(look.text), look.label.data(),
                                look.label.data() + look.label.size());
        }
    }
    if (response.hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    return response;
}

namespace {

// One log row: the stamp, then the message flowing beside it and wrapping
// onto further lines at the row's full width.
void draw_log_row(const DrawScale& scale, const LogEntry& entry, ImFont* font, float row_width) {
    if (!font) return;
    ImDrawList& painter = *ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetCursorScreenPos();
    const float line = font->FontSize;
    const std::string stamp = "[" + entry.time + "]";
    const float stamp_width = text_width(scale, font, stamp);
    painter.AddText(font, line, origin, to_imgui(kSlate), stamp.data(), stamp.data() + stamp.size());
    const ImU32 colour = to_imgui(log_level_color(entry.level));
    scale.fonts.note_text(font, entry.text);
    const char* text = entry.text.data();
    const char* end = text + entry.text.size();
    float x = origin.x + stamp_width + scale(6);
    float y = origin.y;
    float width = std::max(1.0f, row_width - stamp_width - scale(6));
    while (text < end) {
        const char* cut = font->CalcWordWrapPositionA(1.0f, text, end, width);
        if (cut == text) cut = text + 1;  // at least one byte per line, never stuck
        while (cut < end && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80) ++cut;
        painter.AddText(font, line, ImVec2(x, y), colour, text, cut);
        text = cut;
        while (text < end && (*text == ' ' || *text == '\n')) ++text;
        if (text < end) {
            x = origin.x;
            y += line;
            width = row_width;
        }
    }
    // Whole pixels, as the gaps: the toolkit truncates the layout cursor toward
    // zero, so a fractional row moves the end of the list by a pixel depending
    // on the scroll position, and the list would stop following its newest row.
    ImGui::Dummy(ImVec2(row_width, std::ceil(y + line - origin.y)));
}

}  // namespace

void draw_log_list(const DrawScale& scale, float layout_scale, const std::vector<LogEntry>& entries,
                   float font_size) {
    // Whole pixels: a fractional gap would make the scroll range depend on the scroll position.
    const float gap = std::round(scale(4 - 1.5f * layout_scale));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0, gap));
    ImFont* font = scale.monospace(font_size);
    const float width = ImGui::GetContentRegionAvail().x;
    for (const LogEntry& entry : entries) draw_log_row(scale, entry, font, width);
    ImGui::PopStyleVar();
}

}  // namespace tarvo::ui
