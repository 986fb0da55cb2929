#include "ui/layout.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tarvo::ui {
namespace {

TEST(FirstFramePlacement, FollowsTheMonitorSize) {
    struct Case {
        float mw, mh;
        WindowPlacement want;
    };
    for (const Case& c : {Case{1920, 1080, {780, 810, 570, 95}}, Case{1366, 768, {780, 654, 293, 17}},
                          Case{1280, 720, {780, 624, 250, 8}}, Case{800, 600, {720, 504, 40, 8}}}) {
        SCOPED_TRACE(testing::Message() << c.mw << "x" << c.mh);
        const auto got = first_frame_placement(c.mw, c.mh);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, c.want);
    }
}

TEST(FirstFramePlacement, HeightBoundaries) {
    struct Case {
        float mh, height;
    };
    for (const Case& c : {Case{930, 810}, Case{929, 760}, Case{760, 650}, Case{759, 630}, Case{560, 500}}) {
        SCOPED_TRACE(c.mh);
        EXPECT_EQ(first_frame_placement(1920, c.mh)->height, c.height);
    }
    EXPECT_EQ(first_frame_placement(600, 1080)->width, 620);  // never narrower than the least width
}

TEST(FirstFramePlacement, NeedsAKnownMonitorLargerThan200) {
    EXPECT_FALSE(first_frame_placement(200, 1000));
    EXPECT_FALSE(first_frame_placement(1000, 200));
    EXPECT_FALSE(first_frame_placement(std::nullopt, 1080));
    EXPECT_FALSE(first_frame_placement(1920, std::nullopt));
    EXPECT_TRUE(first_frame_placement(201, 201));
}

TEST(FrameLayout, ValuesAtTheThreeScales) {
    struct Case {
        float height, s, gap, h1, h2, h3, h4, content, margin;
    };
    for (const Case& c :
         {Case{790, 0, 16, 104, 178, 108, 114, 683, 24}, Case{900, 0, 16, 104, 178, 108, 114, 683, 24},
          Case{700, 0.5f, 13, 95, 162, 97, 102, 623, 19}, Case{610, 1, 9, 86, 146, 86, 90, 559, 14},
          Case{400, 1, 9, 86, 146, 86, 90, 559, 14}}) {
        SCOPED_TRACE(c.height);
        const FrameLayout f = frame_layout(c.height);
        EXPECT_FLOAT_EQ(f.scale, c.s);
        EXPECT_EQ(f.section_gap, c.gap);
        EXPECT_EQ(f.header_height, c.h1);
        EXPECT_EQ(f.controls_height, c.h2);
        EXPECT_EQ(f.cards_height, c.h3);
        EXPECT_EQ(f.telemetry_height, c.h4);
        EXPECT_EQ(f.log_min_height, 115);
        EXPECT_EQ(f.content_height, c.content);
        EXPECT_EQ(f.panel_margin, c.margin);
    }
}

TEST(FrameLayout, RootScrollOnlyWhenTheContentIsMoreThanOnePointTaller) {
    EXPECT_FALSE(needs_root_scroll(683, 682));
    EXPECT_FALSE(needs_root_scroll(683, 700));
    EXPECT_TRUE(needs_root_scroll(683, 681.5f));
}

TEST(PanelScales, WidthScaleAndTheMaximaBuiltOnIt) {
    struct Case {
        float s, width, w, m, power, telemetry;
    };
    for (const Case& c : {Case{0, 720, 0, 0, 0, 0}, Case{0, 900, 0, 0, 0, 0}, Case{0, 580, 1, 0.7f, 0.8f, 1},
                          Case{0, 500, 1, 0.7f, 0.8f, 1}, Case{0, 650, 0.5f, 0.35f, 0.4f, 0.5f},
                          Case{0.5f, 650, 0.5f, 0.5f, 0.5f, 0.5f}, Case{1, 720, 0, 1, 1, 1}}) {
        SCOPED_TRACE(testing::Message() << c.s << " " << c.width);
        const PanelScales p = panel_scales(c.s, c.width);
        EXPECT_FLOAT_EQ(p.w, c.w);
        EXPECT_FLOAT_EQ(p.m, c.m);
        EXPECT_FLOAT_EQ(p.power, c.power);
        EXPECT_FLOAT_EQ(p.telemetry, c.telemetry);
    }
}

TEST(CardGeometry, ScalesWithTheCardHeightWithinItsClamps) {
    const CardGeometry full = card_geometry(108);
    EXPECT_FLOAT_EQ(full.k, 1);
    EXPECT_FLOAT_EQ(full.inset, 18);
    EXPECT_FLOAT_EQ(full.dot_dx, 24);
    EXPECT_FLOAT_EQ(full.dot_dy, 26);
    EXPECT_FLOAT_EQ(full.badge_font, 12);
    EXPECT_FLOAT_EQ(full.title_font, 15.5f);
    EXPECT_FLOAT_EQ(full.text_font, 12.5f);
    EXPECT_FLOAT_EQ(full.title_dy, 56);
    EXPECT_FLOAT_EQ(full.text_dy, 82);

    const CardGeometry small = card_geometry(60);  // 60 / 108 is clamped up to 0.75
    EXPECT_FLOAT_EQ(small.k, 0.75f);
    EXPECT_FLOAT_EQ(small.inset, 13.5f);
    EXPECT_FLOAT_EQ(small.badge_font, 10.5f);
    EXPECT_FLOAT_EQ(small.title_font, 13.5f);
    EXPECT_FLOAT_EQ(small.text_font, 11);

    const CardGeometry tall = card_geometry(200);  // clamped to 1.05; fonts and inset keep their largest
    EXPECT_FLOAT_EQ(tall.k, 1.05f);
    EXPECT_FLOAT_EQ(tall.inset, 18);
    EXPECT_FLOAT_EQ(tall.title_font, 15.5f);
}

TEST(CardGeometry, TextWidthNeverBelow40) {
    EXPECT_FLOAT_EQ(card_text_width(200, 18), 164);
    EXPECT_FLOAT_EQ(card_text_width(60, 18), 40);
}

TEST(CardColumns, ThirdCardTakesWhatTheFloorLeaves) {
    const CardColumns c = card_columns(10, 733, 14);
    EXPECT_FLOAT_EQ(c.width[0], 235);
    EXPECT_FLOAT_EQ(c.width[1], 235);
    EXPECT_FLOAT_EQ(c.x[0], 10);
    EXPECT_FLOAT_EQ(c.x[1], 259);
    EXPECT_FLOAT_EQ(c.x[2], 508);
    EXPECT_FLOAT_EQ(c.x[2] + c.width[2], 743);
}

TEST(ButtonIconGeometry, DotAndLabelCentredTogether) {
    const IconGeometry alone = button_icon_geometry(100, 0);  // an empty label: the dot alone
    EXPECT_FLOAT_EQ(alone.dot_x, 96);
    const IconGeometry labelled = button_icon_geometry(100, 82);
    EXPECT_FLOAT_EQ(labelled.dot_x, 55);
    EXPECT_FLOAT_EQ(labelled.label_x, 68);
    EXPECT_FLOAT_EQ(labelled.label_x + 82 - 100, 100 - (labelled.dot_x - 5));  // symmetric group
}

TEST(PulsePhase, IsTheFractionOfNineTenthsOfTheTime) {
    EXPECT_FLOAT_EQ(pulse_phase(0), 0);
    EXPECT_NEAR(pulse_phase(1.0f), 0.9f, 1e-6);
    EXPECT_NEAR(pulse_phase(2.0f), 0.8f, 1e-5);
}

// At 125 % the controls' 178 points are 222.5 pixels: every height and the
// gap become whole pixels, so all section edges lie on pixel boundaries.
TEST(SectionPixels, WholePixelsAtEveryScale) {
    const SectionPixels at125 = section_pixels(frame_layout(810), 1.25f);
    EXPECT_EQ(at125.controls, 223);
    EXPECT_EQ(at125.telemetry, 143);  // 142.5
    EXPECT_EQ(at125.log_min, 144);    // 143.75
    EXPECT_EQ(at125.gap, 20);
    for (const float px : {1.0f, 1.25f, 1.5f, 1.75f, 2.0f})
        for (const float height : {400.0f, 650.0f, 700.0f, 810.0f}) {
            const SectionPixels p = section_pixels(frame_layout(height), px);
            for (const float v :
                 {p.gap, p.header, p.controls, p.cards, p.telemetry, p.log_min, p.scrolled_log})
                EXPECT_EQ(v, std::round(v)) << px << " " << height;
        }
}

TEST(SnapToPixels, MovesEachEdgeToTheNearestPixel) {
    EXPECT_EQ(snap_to_pixels({30.25f, 402.5f, 944.75f, 545.4f}), (PixelBox{30, 403, 945, 545}));
}

// One column of whole pixels, one point wide, centred on the section's middle.
TEST(TelemetryDivider, OnePointOnWholePixelsAtTheMiddle) {
    struct Case {
        float px, s;
        PixelBox section, want;
    };
    for (const Case& c : {
             Case{1, 0, {24, 462, 756, 576}, {390, 506, 391, 562}},
             Case{1, 0, {24, 462, 757, 576}, {390, 506, 391, 562}},  // middle 390.5: that pixel's centre
             Case{1.25f, 0, {30, 578, 945, 721}, {487, 633, 488, 704}},
             Case{1.5f, 0, {36, 693, 1134, 864}, {584, 759, 586, 843}},
             Case{2, 0, {48, 924, 1512, 1152}, {779, 1012, 781, 1124}},
             Case{1, 1, {14, 300, 606, 390}, {310, 335, 311, 379}},
         }) {
        SCOPED_TRACE(testing::Message()
                     << c.px << " " << c.s << " " << c.section.left << "-" << c.section.right);
        EXPECT_EQ(telemetry_divider(c.section, c.s, c.px), c.want);
    }
}

}  // namespace
}  // namespace tarvo::ui
