// The window's pure layout rules: first-frame sizing, the frame's layout
// values, the panel's width scales, card geometry and button icon placement.
// Lengths in points.
#pragma once

#include <optional>

namespace tarvo::ui {

// Nearest integer, halves away from zero (12.5 gives 13).
float round_half_away(float x);

struct WindowPlacement {
    float width = 0, height = 0, x = 0, y = 0;
    friend bool operator==(const WindowPlacement&, const WindowPlacement&) = default;
};

// Inner size and outer position from the monitor size; nothing while the
// monitor is unknown or not larger than 200 x 200.
std::optional<WindowPlacement> first_frame_placement(std::optional<float> monitor_width,
                                                     std::optional<float> monitor_height);

inline constexpr float kLogMinHeight = 115;
inline constexpr float kScrolledLogHeight = 140;

struct FrameLayout {
    float scale = 0;  // layout_scale, s
    float section_gap = 0;
    float header_height = 0;
    float controls_height = 0;
    float cards_height = 0;
    float telemetry_height = 0;
    float log_min_height = kLogMinHeight;
    float content_height = 0;
    float panel_margin = 0;
};

// From the height of the window's inner area.
FrameLayout frame_layout(float screen_height);

// The root scroll area is needed when the content does not fit.
bool needs_root_scroll(float content_height, float available_height);

struct PanelScales {
    float w = 0;          // width scale: 0 at 720 and wider, 1 at 580 and narrower
    float m = 0;          // max(s, 0.7 w): title, key font, telemetry figures
    float power = 0;      // max(s, 0.8 w): the tunnel switch
    float telemetry = 0;  // max(s, w): the telemetry columns
};

PanelScales panel_scales(float layout_scale, float panel_width);

struct CardGeometry {
    float k = 1;        // size scale
    float inset = 18;   // p
    float dot_dx = 24;  // dot centre from the left edge
    float dot_dy = 26;  // dot centre from the top edge
    float badge_font = 12;
    float title_font = 15.5f;
    float text_font = 12.5f;
    float title_dy = 56;
    float text_dy = 82;
};

CardGeometry card_geometry(float card_height);

// Width left for a card's title and state text.
float card_text_width(float card_width, float inset);

struct IconGeometry {
    float dot_x = 0;    // centre of the dot
    float label_x = 0;  // left edge of the label
};

// Dot and label centred together on `centre_x`.
IconGeometry button_icon_geometry(float centre_x, float label_width);

// The three cards' left edges and widths across `width`.
struct CardColumns {
    float x[3] = {};
    float width[3] = {};
};
CardColumns card_columns(float left, float width, float spacing);

// The pulse ring's phase (fractional part of 0.9 t).
float pulse_phase(float t);

// Drawing on the pixel grid: at a scale such as 125 % a length in points may
// end half-way through a pixel, and a border along it blurs over two rows.

// Edges in physical pixels.
struct PixelBox {
    float left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

// Each edge on the nearest pixel boundary.
PixelBox snap_to_pixels(PixelBox box);

// The sections' heights and the gap between them, in whole pixels, so that
// every section edge lies on a pixel boundary.
struct SectionPixels {
    float gap = 0, header = 0, controls = 0, cards = 0, telemetry = 0, log_min = 0, scrolled_log = 0;
};
SectionPixels section_pixels(const FrameLayout& layout, float px);

// The telemetry's divider within its section: one point wide (at least one
// pixel), centred on the section's middle, from 44 - 9 s below the top to
// 14 - 3 s above the bottom, on whole pixels.
PixelBox telemetry_divider(PixelBox section, float layout_scale, float px);

}  // namespace tarvo::ui
