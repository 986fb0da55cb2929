#include "ui/fonts.h"

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "support/idle_operations.h"
#include "ui/client_app.h"

namespace tarvo::ui {
namespace {

// Every drawable character, in UTF-8.
std::string every_drawable_character() {
    std::string text;
    for (char32_t c = 0x20; c < 0x10000; ++c) {
        char utf8[5];
        if (is_drawable(c)) text += ImTextCharToUtf8(utf8, static_cast<unsigned int>(c));
    }
    return text;
}

class FontCacheTest : public ::testing::Test {
protected:
    // The sizes drawn in frame_drawing baked before, as by a first frame.
    void bake_sizes() {
        cache_.bake(
            atlas_,
            {{FontFamily::proportional, 52}, {FontFamily::monospace, 52}, {FontFamily::proportional, 84}});
    }

    // A frame that draws `text` in both families at 13 px and in the
    // proportional one at 21 px as well, then the rebuild between frames.
    bool frame_drawing(std::string_view text) {
        for (const FontFamily family : {FontFamily::proportional, FontFamily::monospace})
            cache_.note_text(cache_.font(family, 13), text);
        cache_.font(FontFamily::proportional, 21);
        return cache_.rebuild_if_needed(atlas_, false);
    }

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

// Node names and reasons in other scripts: each character comes from the
// first font of the family that has it; one that no font has, or one
// outside the drawable scripts, shows the replacement character.
TEST_F(FontCacheTest, DrawsEveryCharacterAFontOfTheFamilyHas) {
    const std::string text =
        "żółć ŁÓDŹ • Київ Ђурђевдан Αθήνα Ωω Timișoara Constanța ǅ ƀ € ₴ ₽ £ ‰ † ′ — "
        "… "
        "↓ "
        "↑";
    bake_sizes();
    EXPECT_TRUE(frame_drawing(text + " 中 \u20C0"));
    for (const FontFamily family : {FontFamily::proportional, FontFamily::monospace}) {
        SCOPED_TRACE(family == FontFamily::monospace ? "monospace" : "proportional");
        const ImFont* font = cache_.font(family, 13);
        for (const char32_t c : std::u32string(
                 U"żółćŁÓŹ•КиївЂђΑθήΩωșțǅƀ€₴₽£‰†′—…↓↑\uFFFD"))
            EXPECT_NE(font->FindGlyphNoFallback(static_cast<ImWchar>(c)), nullptr) << std::hex << int(c);
        EXPECT_EQ(font->FindGlyphNoFallback(u'中'), nullptr) << "outside the drawable scripts";
        EXPECT_EQ(font->FindGlyphNoFallback(0x20C0), nullptr) << "no font has it";
        EXPECT_EQ(font->FallbackChar, 0xFFFD);
    }
    EXPECT_FALSE(frame_drawing(text + " 中 \u20C0")) << "what no font has asks for no more bakes";
}

// Each size gets the characters drawn at it: the title's size no Cyrillic.
TEST_F(FontCacheTest, EachSizeHasTheCharactersDrawnAtIt) {
    bake_sizes();
    EXPECT_TRUE(frame_drawing("Київ"));
    EXPECT_NE(cache_.font(FontFamily::proportional, 13)->FindGlyphNoFallback(u'К'), nullptr);
    EXPECT_EQ(cache_.font(FontFamily::proportional, 21)->FindGlyphNoFallback(u'К'), nullptr);
    EXPECT_FALSE(frame_drawing("Київ")) << "nothing new";
    EXPECT_TRUE(frame_drawing("Ωμέγα")) << "a new character";
    EXPECT_NE(cache_.font(FontFamily::proportional, 13)->FindGlyphNoFallback(u'К'), nullptr)
        << "kept from the bake before";
}

// More characters than a texture takes: the largest size keeps the
// program's own letters, the atlas fits, and the characters given up ask
// for no more bakes.
TEST_F(FontCacheTest, GivesUpCharactersOfTheLargestSizesBeforeOverflowingTheTexture) {
    cache_.set_max_texture_size(1024);
    const std::string every_character = every_drawable_character();
    const auto frame = [&] {
        cache_.note_text(cache_.font(FontFamily::monospace, 13), every_character);
        cache_.note_text(cache_.font(FontFamily::proportional, 72), every_character);
        return cache_.rebuild_if_needed(atlas_, false);
    };
    frame();
    EXPECT_TRUE(frame());
    EXPECT_LE(atlas_.TexWidth, 1024);
    EXPECT_LE(atlas_.TexHeight, 1024);
    EXPECT_TRUE(cache_.left_characters_out());
    const ImFont* large = cache_.font(FontFamily::proportional, 72);
    EXPECT_NE(large->FindGlyphNoFallback(u'ą'), nullptr);
    EXPECT_EQ(large->FindGlyphNoFallback(u'Ж'), nullptr);
    EXPECT_NE(cache_.font(FontFamily::monospace, 13)->FindGlyphNoFallback(u'Ж'), nullptr)
        << "the smaller size keeps it";
    EXPECT_FALSE(frame());
}

TEST(DrawableCharacters, TheScriptsOfNamesAndReasons) {
    for (const char32_t c :
         {U' ', U'~', U'ą', U'ș', U'ɏ', U'Ω', U'Ж', U'ԥ', U'‰', U'€', U'₿', U'↓', U'\uFFFD'})
        EXPECT_TRUE(is_drawable(c)) << std::hex << int(c);
    for (const char32_t c : {U'\t', U'\x7F', U'\x9F', U'ḁ', U'א', U'中', U'\u218F', U'😀'})
        EXPECT_FALSE(is_drawable(c)) << std::hex << int(c);
}

// The whole panel drawn headless at 100 to 200 %, with names in every
// drawable script and a log holding every drawable character, baked within
// a 1024 x 1024 texture (Microsoft's OpenGL 1.1 renderer): every size drawn
// baked exactly, every character of the texts in the font that draws it.
TEST(FontAtlas, FitsA1024TextureAtEveryScaleWithEveryScript) {
    constexpr int kLimit = 1024;
    const std::string every_character = every_drawable_character();
    for (const float px : {1.0f, 1.25f, 1.5f, 1.75f, 2.0f}) {
        SCOPED_TRACE(::testing::Message() << "scale " << px);
        ImGuiContext* context = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.IniFilename = nullptr;
        io.DeltaTime = 1.0f / 60;
        io.DisplaySize = ImVec2(std::round(780 * px), std::round(810 * px));
        auto shared = create_shared_state({"ABCDEFGH1234", false, false});
        {
            auto s = shared->lock();
            s->headline = "Офис Київ – Αθήνα • Timișoara, Constanța";
            s->detail = "Koszt 12,50 € / 9,90 £ / 1200 ₴ • Ђурђевдан • ǅ ǈ ǋ";
            s->tunnel_card.text = "Σύνδεση OK — вузол «Львів»";
            for (std::size_t at = 0; at < every_character.size();) {
                std::size_t end = std::min(every_character.size(), at + 120);
                while (end < every_character.size() && (every_character[end] & 0xC0) == 0x80) ++end;
                push_log(*s, every_character.substr(at, end - at), LogLevel::neutral);
                at = end;
            }
        }
        ClientApp app("ABCDEFGH1234", shared, std::make_unique<testing::IdleOperations>(), load_font_faces());
        app.fonts.set_max_texture_size(kLimit);
        app.fonts.bake(*io.Fonts, {{FontFamily::proportional, static_cast<int>(std::lround(52 * px))},
                                   {FontFamily::monospace, static_cast<int>(std::lround(52 * px))}});
        int frames = 0;
        bool rebuilt = true;
        for (; rebuilt && frames < 10; ++frames) {
            ImGui::NewFrame();
            FrameValues values;
            values.px = px;
            values.layout = frame_layout(io.DisplaySize.y / px);
            draw_window_contents(app, values);
            ImGui::Render();
            rebuilt = app.fonts.rebuild_if_needed(*io.Fonts, false);
            EXPECT_LE(io.Fonts->TexWidth, kLimit);
            EXPECT_LE(io.Fonts->TexHeight, kLimit);
        }
        EXPECT_FALSE(rebuilt) << "every size and character drawn is baked after " << frames << " frames";
        EXPECT_FALSE(app.fonts.left_characters_out());
        const ImFont* headline = app.fonts.font(FontFamily::proportional, 14.5f * px);
        EXPECT_FLOAT_EQ(headline->FontSize, std::round(14.5f * px * 4) / 4);
        for (const char32_t c : std::u32string(U"ОфисКиївΑθήνașț"))
            EXPECT_NE(headline->FindGlyphNoFallback(static_cast<ImWchar>(c)), nullptr) << std::hex << int(c);
        const ImFont* log = app.fonts.font(FontFamily::monospace, 13 * px);
        EXPECT_FLOAT_EQ(log->FontSize, std::round(13 * px * 4) / 4);
        for (const char32_t c : std::u32string(U"ąșɏΩЖԥ‰€ǅ"))
            EXPECT_NE(log->FindGlyphNoFallback(static_cast<ImWchar>(c)), nullptr) << std::hex << int(c);
        std::printf("scale %.2f: atlas %d x %d, %d horizontal samples a pixel\n", px, io.Fonts->TexWidth,
                    io.Fonts->TexHeight, app.fonts.oversampling());
        ImGui::DestroyContext(context);
    }
}

}  // namespace
}  // namespace tarvo::ui
