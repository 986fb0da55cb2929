#include "ui/fonts.h"

#include <gtest/gtest.h>
#include <imgui.h>

namespace tarvo::ui {
namespace {

class FontCacheTest : public ::testing::Test {
protected:
    ImFontAtlas atlas_;
    FontCache cache_{load_font_faces()};
};

TEST_F(FontCacheTest, BakesTheSizesAFrameAskedForOnTheQuarterPixelGrid) {
    cache_.font(FontFamily::proportional, 14.6f);
    cache_.font(FontFamily::monospace, 19);
    ASSERT_TRUE(cache_.rebuild_if_needed(atlas_, false));
    EXPECT_FLOAT_EQ(cache_.font(FontFamily::proportional, 14.6f)->FontSize, 14.5f);
    EXPECT_FLOAT_EQ(cache_.font(FontFamily::monospace, 19)->FontSize, 19);
    EXPECT_FALSE(cache_.rebuild_if_needed(atlas_, false)) << "nothing missing";
}

TEST_F(FontCacheTest, AMissingSizeBorrowsTheNearestUntilTheNextRebuild) {
    cache_.font(FontFamily::proportional, 12);
    cache_.font(FontFamily::proportional, 20);
    cache_.rebuild_if_needed(atlas_, false);
    EXPECT_FLOAT_EQ(cache_.font(FontFamily::proportional, 18)->FontSize, 20);
    EXPECT_FALSE(cache_.rebuild_if_needed(atlas_, true)) << "held back while resizing";
    cache_.font(FontFamily::proportional, 18);
    ASSERT_TRUE(cache_.rebuild_if_needed(atlas_, false));
    EXPECT_FLOAT_EQ(cache_.font(FontFamily::proportional, 18)->FontSize, 18);
    EXPECT_FLOAT_EQ(cache_.font(FontFamily::proportional, 12)->FontSize, 18)
        << "12 was not used in the last frame";
}

TEST_F(FontCacheTest, EveryFamilyHasTheGlyphsOfTheTexts) {
    for (const FontFamily family : {FontFamily::proportional, FontFamily::monospace}) cache_.font(family, 13);
    cache_.rebuild_if_needed(atlas_, false);
    for (const FontFamily family : {FontFamily::proportional, FontFamily::monospace}) {
        const ImFont* font = cache_.font(family, 13);
        for (const ImWchar c : {u'ą', u'ć', u'ę', u'ł', u'ń', u'ó', u'ś', u'ź', u'ż', u'Ą', u'Ł', u'Ż', u'•',
                                u'…', u'—', u'–', u'↓', u'↑', u'\uFFFD'})
            EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << static_cast<int>(c);
    }
}

}  // namespace
}  // namespace tarvo::ui
