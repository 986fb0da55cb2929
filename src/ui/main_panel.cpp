// The main panel: header, controls, cards, telemetry and the event log, drawn
// from one snapshot of the shared state. Lengths are worked out in points and
// drawn in physical pixels.
#include <imgui.h>
#include <imgui_internal.h>
#include <imgui_stdlib.h>

#include <algorithm>
#include <cmath>

#include "ui/client_app.h"
#include "ui/hub_tile.h"
#include "ui/painter.h"
#include "ui/widget_ids.h"
#include "ui/widgets.h"

namespace tarvo::ui {

namespace {

constexpr char kKeyHint[] = "WPISZ KLUCZ (12 ZN.) LUB PASS-48H-...";
constexpr Color kSnow{248, 250, 252, 255};
constexpr Color kEdge{45, 62, 90, 255};

struct Snapshot {
    std::string headline, detail, status_label;
    Color accent;
    bool force_l3 = false, power_on = false, connecting = false, disconnecting = false;
    StatusCard cards[3];
    std::string rx_rate, rx_total, tx_rate, tx_total;
    std::vector<LogEntry> log;
};

Snapshot take_snapshot(SharedState& shared) {
    auto s = shared.lock();
    return Snapshot{s->headline,
                    s->detail,
                    s->status_label,
                    s->accent_color,
                    s->config.ForceL3,
                    s->power_on,
                    s->connecting,
                    s->disconnecting,
                    {clone_status_card(s->orchestrator_card), clone_status_card(s->tunnel_card),
                     clone_status_card(s->bridge_card)},
                    s->rx_rate_text,
                    s->rx_total_text,
                    s->tx_rate_text,
                    s->tx_total_text,
                    s->log};
}

// Reserves a full-width section of `height` pixels and returns its rectangle.
ImRect reserve_section(float width, float height) {
    ImGui::Dummy(ImVec2(width, height));
    return ImRect(ImGui::GetItemRectMin(), ImGui::GetItemRectMax());
}

void paint_section(ImDrawList& painter, const DrawScale& u, ImRect r, Color fill, Color border) {
    painter.AddRectFilled(r.Min, r.Max, to_imgui(fill), u(16));
    painter.AddRect(r.Min, r.Max, to_imgui(border), u(16), 0, u(1.2f));
}

struct PanelScope {
    ClientApp& app;
    FrameValues& frame;
    const Snapshot& snap;
    DrawScale u;
    PanelScales scales;
    float s;
};

void draw_header(PanelScope& p, ImRect r) {
    ImDrawList& painter = *ImGui::GetWindowDrawList();
    const DrawScale& u = p.u;
    const float s = p.s, w = p.scales.w, m = p.scales.m;
    const float h1 = p.frame.layout.header_height;
    paint_section(painter, u, r, Color{18, 28, 46, 255}, Color{45, 70, 110, 255});

    const float tile = std::clamp(h1 - 24, 58.0f, 76.0f);
    const float x0 = r.Min.x + u(18 - 4 * s);
    const float cy = (r.Min.y + r.Max.y) / 2;
    draw_hub_tile(painter, ImRect(x0, cy - u(tile) / 2, x0 + u(tile), cy + u(tile) / 2), p.snap.power_on,
                  p.frame.animation_time, u.px);

    const float cw = 166 - 18 * w;
    const float sx = r.Max.x - u(20 - 6 * w) - u(cw);
    const float tx = x0 + u(tile) + u(16 - 4 * s);
    const float maxw = std::max((sx - tx) / u.px - 12, 60.0f);
    const struct {
        std::string_view text;
        float size, dx, dy;
        Color colour;
    } lines[] = {{"Tarvo Enterprise Client", 21 - 3 * m, 0, 0.26f, kSnow},
                 {p.snap.headline, 14.5f - 1.5f * s, 1, 0.54f, kCyan},
                 {p.snap.detail, 12.5f - s, 1, 0.78f, kMutedGrey}};
    for (const auto& line : lines) {
        ImFont* font = u.proportional(line.size);
        draw_text(u, painter, font, Anchor::left_centre, ImVec2(tx + u(line.dx), r.Min.y + u(line.dy * h1)),
                  to_imgui(line.colour), elide_to(u, line.text, font, maxw));
    }

    const float top = cy - u(72 - 12 * s) / 2;
    const ImRect badge = snapped(ImRect(sx, top, sx + u(cw), top + u(30 - 4 * s)));
    painter.AddRectFilled(badge.Min, badge.Max, rgba(13, 20, 36), u(8));
    const Color accent = p.snap.accent;
    painter.AddRect(badge.Min, badge.Max, IM_COL32(accent.r, accent.g, accent.b, 140), u(8), 0, u(1.3f));
    draw_text(u, painter, u.proportional(12.5f), Anchor::centre, badge.GetCenter(), to_imgui(accent),
              p.snap.status_label);

    const float toggle_top = badge.Max.y + u(8 - 2 * s);
    const ImRect toggle(sx, toggle_top, sx + u(cw), toggle_top + u(34 - 6 * s));
    if (draw_action_button(u, toggle, ids::kForceL3, mode_toggle_look(p.snap.force_l3), 8, 12 - w).clicked)
        p.frame.force_l3_toggle_requested = true;
}

void open_key_editor(ClientApp& app) {
    app.editing_key = true;
    app.focus_key_pending = true;
}

void draw_key_editor(PanelScope& p, ImRect box, float font_size) {
    ClientApp& app = p.app;
    const DrawScale& u = p.u;
    const float inset_y = u(10 - 4 * p.s);
    const ImRect area(box.Min.x + u(16), box.Min.y + inset_y, box.Max.x - u(16), box.Max.y - inset_y);
    ImFont* font = u.monospace(font_size);
    ImGui::SetCursorScreenPos(area.Min);
    ImGui::BeginChild(
        "tarvo_key_editor", area.GetSize(), false,
        ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoBackground);
    if (font) ImGui::PushFont(font);
    ImGui::PushStyleColor(ImGuiCol_Text, to_imgui(kCyan));
    ImGui::PushStyleColor(ImGuiCol_TextDisabled, rgba(100, 116, 139));
    ImGui::PushStyleColor(ImGuiCol_FrameBg, IM_COL32(0, 0, 0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 0);
    // Centred vertically in its strip.
    const float line = font ? font->FontSize : ImGui::GetFontSize();
    ImGui::SetCursorPosY(std::max(0.0f, std::floor((area.GetHeight() - line) / 2)));
    ImGui::SetNextItemWidth(box.GetWidth() - u(32));
    const ImGuiID editor = ImGui::GetID(ids::kKeyTextEdit);
    // The focus request takes effect when the editor is next drawn.
    const bool opening = app.focus_key_pending;
    if (opening) {
        app.focus_key_pending = false;
        ImGui::SetKeyboardFocusHere();
    }
    ImGui::InputTextWithHint(ids::kKeyTextEdit, kKeyHint, &app.key_input);
    u.fonts.note_text(font, app.key_input.empty() ? std::string_view(kKeyHint) : app.key_input);
    if (ImGui::IsItemHovered()) ImGui::SetMouseCursor(ImGuiMouseCursor_TextInput);
    // The whole key selected, cursor at its end. The toolkit keeps that
    // selection when the focus arrives; without a saved state (the first
    // opening) the focus selects everything by itself.
    if (ImGuiInputTextState* state = ImGui::GetInputTextState(editor); opening && state) {
        state->Stb.select_start = 0;
        state->Stb.select_end = state->Stb.cursor = ImTextCountCharsFromUtf8(
            app.key_input.c_str(), app.key_input.c_str() + app.key_input.size());
    }
    ImGui::PopStyleVar(2);
    ImGui::PopStyleColor(3);
    if (font) ImGui::PopFont();
    ImGui::EndChild();

    const bool enter = ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Enter)) ||
                       ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_KeyPadEnter));
    if (enter) {
        save_key(app);
    } else if (ImGui::IsKeyPressed(ImGui::GetKeyIndex(ImGuiKey_Escape))) {
        app.key_input = stored_key(*app.state);
        app.editing_key = false;
    }
}

void draw_controls(PanelScope& p, ImRect r) {
    ImDrawList& painter = *ImGui::GetWindowDrawList();
    const DrawScale& u = p.u;
    const float s = p.s, w = p.scales.w, m = p.scales.m;
    ClientApp& app = p.app;
    paint_section(painter, u, r, Color{22, 32, 50, 255}, kEdge);

    const float pad = u(20 - 4 * w);
    const float left = r.Min.x + pad, right = r.Max.x - pad;
    const float iw = std::max(right - left, u(120));
    ImFont* caption = u.proportional(12 - s);
    draw_text(
        u, painter, caption, Anchor::left_centre, ImVec2(left, r.Min.y + u(22 - 4 * s)), to_imgui(kMutedGrey),
        elide_to(u, "KLUCZ URZĄDZENIA (12 ZNAKÓW) LUB KOD PRZEPUSTKI (PASS-48H-...) ORAZ PRZEŁĄCZNIK TUNELU",
                 caption, iw / u.px));

    const float ky = r.Min.y + u(44 - 9 * s), kh = u(48 - 8 * s);
    const float bw = u(144 - 18 * w), g = u(14 - 4 * w);
    const float kbw = std::max(iw - bw - g, u(80));
    const ImRect box = snapped(ImRect(left, ky, left + kbw, ky + kh));
    painter.AddRectFilled(box.Min, box.Max, rgba(13, 20, 36), u(12));
    painter.AddRect(box.Min, box.Max, to_imgui(app.editing_key ? kCyan : kEdge), u(12), 0, u(1.4f));
    const float key_font = 19 - 2.5f * m;
    if (app.editing_key) {
        draw_key_editor(p, box, key_font);
    } else {
        const ImGuiID click = ImGui::GetID(ids::kKeyBoxClick);
        if (ImGui::ItemAdd(box, click)) {
            bool hovered = false, held = false;
            if (ImGui::ButtonBehavior(box, click, &hovered, &held)) open_key_editor(app);
            if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_TextInput);
        }
        ImFont* font = u.monospace(key_font);
        const bool empty = app.key_input.empty();
        draw_text(u, painter, font, Anchor::left_centre, ImVec2(left + u(16), ky + kh / 2),
                  empty ? to_imgui(kSlate) : to_imgui(kCyan),
                  elide_to(u, empty ? std::string_view(kKeyHint) : std::string_view(app.key_input), font,
                           std::max((kbw - u(32)) / u.px, 40.0f)));
    }
    const ImRect edit(right - bw, ky, right, ky + kh);
    if (draw_action_button(u, edit, ids::kKeyEdit, key_button_look(app.editing_key), 12, 14 - s).clicked) {
        if (app.editing_key) save_key(app);
        else open_key_editor(app);
    }

    const float py = r.Min.y + u(108 - 21 * s), ph = u(52 - 8 * s);
    const float half = (iw - g) / 2;
    const float font = 15 - 1.5f * p.scales.power;
    const ImRect on(left, py, left + half, py + ph);
    const ImRect off(left + half + g, py, left + iw, py + ph);
    if (draw_action_button(u, on, ids::kPowerOn, power_on_button_look(p.snap.power_on, p.snap.connecting), 12,
                           font)
            .clicked &&
        !p.snap.connecting) {
        if (app.editing_key) save_key(app);
        p.frame.power_on_requested = true;
    }
    if (draw_action_button(u, off, ids::kPowerOff,
                           power_off_button_look(p.snap.power_on, p.snap.disconnecting), 12, font)
            .clicked &&
        !p.snap.disconnecting)
        p.frame.power_off_requested = true;
}

void draw_cards(PanelScope& p, ImRect r) {
    const DrawScale& u = p.u;
    const CardColumns columns = card_columns(r.Min.x, r.GetWidth(), u(14 - 4 * p.scales.w));
    const float t = p.frame.animation_time;
    const float pulse[3] = {t, t + 0.6f, t + 1.2f};
    for (int i = 0; i < 3; ++i)
        draw_status_card(u, *ImGui::GetWindowDrawList(),
                         ImRect(columns.x[i], r.Min.y, columns.x[i] + columns.width[i], r.Max.y),
                         p.snap.cards[i], pulse[i]);
}

void draw_telemetry(PanelScope& p, ImRect r) {
    ImDrawList& painter = *ImGui::GetWindowDrawList();
    const DrawScale& u = p.u;
    const float s = p.s, w = p.scales.w, m = p.scales.m, sw = p.scales.telemetry;
    paint_section(painter, u, r, Color{22, 32, 50, 255}, kEdge);
    const float pad = u(20 - 4 * w);
    const float tl = r.Min.x + pad;
    const float mid = (r.Min.x + r.Max.x) / 2;
    const float label_y = r.Min.y + u(52 - 11 * s), ry = r.Min.y + u(84 - 16 * s);
    draw_text(u, painter, u.proportional(12 - s), Anchor::left_centre, ImVec2(tl, r.Min.y + u(22 - 5 * s)),
              to_imgui(kMutedGrey), "TELEMETRIA RUCHU TUNELOWEGO (NA ŻYWO)");
    const struct {
        float x;
        std::string_view label;
        Color colour;
        const std::string& rate;
        const std::string& total;
        float limit;
    } columns[] = {
        {tl, "↓  POBIERANIE (RX)", kGreen, p.snap.rx_rate, p.snap.rx_total, mid - u(10)},
        {mid + u(24 - 8 * w), "↑  WYSYŁANIE (TX)", kCyan, p.snap.tx_rate, p.snap.tx_total, r.Max.x - pad}};
    ImFont* label_font = u.proportional(13 - s);
    ImFont* rate_font = u.proportional(23 - 4 * m);
    ImFont* total_font = u.proportional(13.5f - 1.5f * m);
    for (const auto& c : columns) {
        draw_text(u, painter, label_font, Anchor::left_centre, ImVec2(c.x, label_y), to_imgui(c.colour),
                  c.label);
        draw_text(u, painter, rate_font, Anchor::left_centre, ImVec2(c.x, ry), to_imgui(kSnow), c.rate);
        const float rate_width = text_width(u, rate_font, c.rate) / u.px;
        const float tx2 = c.x + u(std::max(rate_width + 14, 142 - 34 * sw));
        const float room = std::max(c.limit - tx2, 0.0f) / u.px;
        if (room > 24)
            draw_text(u, painter, total_font, Anchor::left_centre, ImVec2(tx2, ry + u(1.5f)),
                      to_imgui(kMutedGrey), elide_to(u, c.total, total_font, room));
    }
    const PixelBox divider = telemetry_divider(PixelBox{r.Min.x, r.Min.y, r.Max.x, r.Max.y}, s, u.px);
    painter.AddRectFilled(ImVec2(divider.left, divider.top), ImVec2(divider.right, divider.bottom),
                          to_imgui(kEdge));
}

void draw_log(PanelScope& p, ImRect r) {
    ImDrawList& painter = *ImGui::GetWindowDrawList();
    const DrawScale& u = p.u;
    const float s = p.s;
    paint_section(painter, u, r, Color{22, 32, 50, 255}, kEdge);
    const float ty = r.Min.y + u(22 - 4 * s);
    draw_text(u, painter, u.proportional(12 - s), Anchor::left_centre, ImVec2(r.Min.x + u(20), ty),
              to_imgui(kMutedGrey), "DZIENNIK ZDARZEŃ SYSTEMOWYCH");

    const ImRect clear(r.Max.x - u(108), ty - u(11), r.Max.x - u(18), ty + u(11));
    const ImGuiID clear_id = ImGui::GetID(ids::kClearLog);
    bool hovered = false;
    if (ImGui::ItemAdd(clear, clear_id)) {
        bool held = false;
        if (ImGui::ButtonBehavior(clear, clear_id, &hovered, &held)) clear_event_log(*p.app.state);
        if (hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    draw_text(u, painter, u.proportional(12), Anchor::right_centre, ImVec2(r.Max.x - u(18), ty),
              hovered ? to_imgui(kCyan) : to_imgui(kSlate), "Wyczyść logi");

    const float iy = r.Min.y + u(42 - 8 * s);
    const ImRect box = snapped(
        ImRect(r.Min.x + u(16), iy, r.Max.x - u(16), std::max(r.Max.y - u(16 - 4 * s), iy + u(36))));
    painter.AddRectFilled(box.Min, box.Max, rgba(13, 20, 36), u(10));
    painter.AddRect(box.Min, box.Max, rgba(32, 45, 68), u(10), 0, u(1));

    const float inset_y = u(10 - 3 * s);
    const ImRect area(box.Min.x + u(12), box.Min.y + inset_y, box.Max.x - u(12), box.Max.y - inset_y);
    ImGui::SetCursorScreenPos(area.Min);
    ImGui::BeginChild(ids::kLogScroll, area.GetSize(), false, ImGuiWindowFlags_NoBackground);
    // Follows new rows while scrolled to the end; stays put after a scroll up.
    const bool at_end = ImGui::GetScrollY() >= ImGui::GetScrollMaxY();
    draw_log_list(u, s, p.snap.log, 13 - s);
    if (at_end) ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();
}

}  // namespace

void save_key(ClientApp& app) { app.operations->save_key(app.key_input, app.editing_key); }

void draw_main_panel(ClientApp& app, FrameValues& frame, bool in_scroll_area) {
    const float width = ImGui::GetContentRegionAvail().x;
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0, 0));
    const Snapshot snap = take_snapshot(*app.state);
    const DrawScale u{app.fonts, frame.px};
    PanelScope p{app, frame, snap, u, panel_scales(frame.layout.scale, width / frame.px), frame.layout.scale};
    const SectionPixels h = section_pixels(frame.layout, frame.px);

    // Each section's widgets are placed by hand; the layout cursor goes back
    // below the section afterwards.
    const auto section = [&](float height, bool gap_before, auto draw) {
        if (gap_before) ImGui::Dummy(ImVec2(0, h.gap));
        const ImRect r = reserve_section(width, height);
        const ImVec2 after = ImGui::GetCursorScreenPos();
        draw(p, r);
        ImGui::SetCursorScreenPos(after);
    };
    section(h.header, false, draw_header);
    section(h.controls, true, draw_controls);
    section(h.cards, true, draw_cards);
    section(h.telemetry, true, draw_telemetry);
    ImGui::Dummy(ImVec2(0, h.gap));
    const float log_height = in_scroll_area
                                 ? h.scrolled_log
                                 : std::max(std::floor(ImGui::GetContentRegionAvail().y), h.log_min);
    const ImRect log = reserve_section(width, log_height);
    const ImVec2 after = ImGui::GetCursorScreenPos();
    draw_log(p, log);
    ImGui::SetCursorScreenPos(after);
    ImGui::PopStyleVar();
}

}  // namespace tarvo::ui
