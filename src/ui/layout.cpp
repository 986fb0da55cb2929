#include "ui/layout.h"

#include <algorithm>
#include <cmath>

namespace tarvo::ui {

float round_half_away(float x) { return std::round(x); }

std::optional<WindowPlacement> first_frame_placement(std::optional<float> monitor_width,
                                                     std::optional<float> monitor_height) {
    if (!monitor_width || !monitor_height || *monitor_width <= 200 || *monitor_height <= 200)
        return std::nullopt;
    const float mw = *monitor_width, mh = *monitor_height;
    WindowPlacement p;
    p.width = std::min(780.0f, std::max(620.0f, mw - 80));
    if (mh >= 930) p.height = 810;
    else if (mh >= 760) p.height = std::min(760.0f, std::max(650.0f, mh - 114));
    else p.height = std::min(630.0f, std::max(500.0f, mh - 96));
    p.x = std::max(8.0f, (mw - p.width) * 0.5f);
    p.y = std::max(8.0f, (std::max(p.height + 32, mh - 48) - (p.height + 32)) * 0.5f);
    return p;
}

FrameLayout frame_layout(float screen_height) {
    FrameLayout f;
    const float s = std::clamp((790 - screen_height) / 180, 0.0f, 1.0f);
    f.scale = s;
    f.section_gap = round_half_away(16 - 7 * s);
    f.header_height = round_half_away(104 - 18 * s);
    f.controls_height = round_half_away(178 - 32 * s);
    f.cards_height = round_half_away(108 - 22 * s);
    f.telemetry_height = round_half_away(114 - 24 * s);
    f.content_height = 4 * f.section_gap +
                       (f.header_height + f.controls_height + f.cards_height + f.telemetry_height) +
                       kLogMinHeight;
    f.panel_margin = round_half_away(24 - 10 * s);
    return f;
}

bool needs_root_scroll(float content_height, float available_height) {
    return content_height > available_height + 1;
}

PanelScales panel_scales(float layout_scale, float panel_width) {
    PanelScales p;
    p.w = std::clamp((720 - panel_width) / 140, 0.0f, 1.0f);
    p.m = std::max(layout_scale, 0.7f * p.w);
    p.power = std::max(layout_scale, 0.8f * p.w);
    p.telemetry = std::max(layout_scale, p.w);
    return p;
}

CardGeometry card_geometry(float card_height) {
    CardGeometry g;
    const float k = std::clamp(card_height / 108, 0.75f, 1.05f);
    g.k = k;
    g.inset = std::clamp(18 * k, 13.0f, 18.0f);
    g.dot_dx = g.inset + 6;
    g.dot_dy = 26 * k;
    g.badge_font = std::clamp(12 * k, 10.5f, 12.0f);
    g.title_font = std::clamp(15.5f * k, 13.5f, 15.5f);
    g.text_font = std::clamp(12.5f * k, 11.0f, 12.5f);
    g.title_dy = 56 * k;
    g.text_dy = 82 * k;
    return g;
}

float card_text_width(float card_width, float inset) { return std::max(40.0f, card_width - 2 * inset); }

IconGeometry button_icon_geometry(float centre_x, float label_width) {
    const float left = centre_x - (label_width + 18) / 2;
    return IconGeometry{left + 5, left + 18};
}

CardColumns card_columns(float left, float width, float spacing) {
    CardColumns c;
    const float each = std::floor((width - 2 * spacing) / 3);
    for (int i = 0; i < 3; ++i) {
        c.x[i] = left + static_cast<float>(i) * (each + spacing);
        c.width[i] = each;
    }
    c.width[2] = left + width - c.x[2];
    return c;
}

float pulse_phase(float t) {
    const float x = 0.9f * t;
    return x - std::trunc(x);
}

PixelBox snap_to_pixels(PixelBox box) {
    return PixelBox{std::round(box.left), std::round(box.top), std::round(box.right), std::round(box.bottom)};
}

SectionPixels section_pixels(const FrameLayout& layout, float px) {
    const auto whole = [px](float points) { return std::round(points * px); };
    return SectionPixels{whole(layout.section_gap),      whole(layout.header_height),
                         whole(layout.controls_height),  whole(layout.cards_height),
                         whole(layout.telemetry_height), whole(layout.log_min_height),
                         whole(kScrolledLogHeight)};
}

PixelBox telemetry_divider(PixelBox section, float layout_scale, float px) {
    const float width = std::max(1.0f, std::round(px));
    const float left = std::round((section.left + section.right) / 2 - width / 2);
    const float s = layout_scale;
    return PixelBox{left, std::round(section.top + (44 - 9 * s) * px), left + width,
                    std::round(section.bottom - (14 - 3 * s) * px)};
}

}  // namespace tarvo::ui
