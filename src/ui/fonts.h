// The two font families, baked at exactly the pixel sizes the panel draws
// (on a quarter-pixel grid) with exactly the characters drawn at each size:
// the toolkit of this version has no dynamic sizes, text scaled from another
// baked size blurs, and every size with every character the fonts have would
// not fit a texture of the OpenGL 1.1 renderers (1024 x 1024).
//
// A character comes from the first font of its family that has it: the
// system font (Segoe UI, Consolas), then the fonts the program carries
// (DejaVu; the monospace family ends with the proportional one). A character
// none has, or one outside the scripts below, shows as U+FFFD. The toolkit's
// built-in font, which has no Polish letters, is never used.
#pragma once

#include <imgui.h>

#include <bitset>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvo::ui {

enum class FontFamily { proportional, monospace };

struct FontFaces {
    std::string proportional;  // TTF bytes; empty when the system font is missing
    std::string monospace;
    std::string proportional_fallback;
    std::string monospace_fallback;
};

// C:\Windows\Fonts\segoeui.ttf and consola.ttf, with the fallbacks the
// program carries.
FontFaces load_font_faces();

// The characters the window can draw: Latin with Extended-A and -B, Greek,
// Cyrillic, general punctuation, currency signs, the panel's arrows, U+FFFD.
bool is_drawable(char32_t c);

class FontCache {
public:
    explicit FontCache(FontFaces faces);

    // The largest texture side the renderer takes (GL_MAX_TEXTURE_SIZE); every
    // bake fits it.
    void set_max_texture_size(int pixels);

    // The font baked at `size_px` (rounded to a quarter pixel). A size not
    // baked yet is remembered for the next rebuild; meanwhile the nearest
    // baked size of the family stands in.
    ImFont* font(FontFamily family, float size_px);

    // Every text drawn or measured with a font of this frame passes here: its
    // characters are baked at the size that font stands for by the next
    // rebuild. A font standing in for several sizes bakes them at each.
    void note_text(const ImFont* font, std::string_view text);

    // Once between frames: when the last frame asked for a size or a
    // character not baked, bakes the sizes that frame used with the
    // characters drawn at each (and those drawn at it before). Held back
    // while the window is being resized, except when nothing is baked yet.
    // True when the atlas changed.
    bool rebuild_if_needed(ImFontAtlas& atlas, bool resizing);

    // Bakes these sizes now (the first frame's).
    void bake(ImFontAtlas& atlas, const std::set<std::pair<FontFamily, int>>& sizes);

    // How the last bake fitted the texture limit: 2 (sharper at fractional
    // positions) or 1 horizontal samples a pixel, and whether characters
    // drawn at the largest sizes had to be left out (they show as U+FFFD).
    int oversampling() const { return oversampling_; }
    bool left_characters_out() const { return left_out_; }

private:
    using Key = std::pair<FontFamily, int>;  // size in quarter pixels
    using Glyphs = std::bitset<0x10000>;

    bool build(ImFontAtlas& atlas, const std::map<Key, Glyphs>& glyphs, int oversampling);
    void end_frame();

    FontFaces faces_;
    // Each family's fonts in order, those missing or repeating an earlier one
    // left out: the toolkit copies a font's bytes for every size it bakes.
    std::vector<std::string FontFaces::*> chains_[2];
    int max_texture_size_ = 1 << 30;
    std::map<Key, ImFont*> baked_;
    std::map<Key, Glyphs> in_atlas_;  // per baked size, had by a font or not; given up ones too
    std::map<Key, Glyphs> drawn_;     // per baked size: every character drawn with its own font
    // Since the last call of rebuild_if_needed:
    std::set<Key> used_;
    std::vector<std::pair<const ImFont*, Key>> served_;  // the sizes each font stood for
    std::map<Key, Glyphs> noted_;                        // drawn with the size's own font
    std::map<Key, Glyphs> guessed_;                      // drawn with a font standing for several
    bool character_missing_ = false;
    std::vector<std::vector<ImWchar>> ranges_;  // the atlas reads them while it lives
    int oversampling_ = 2;
    bool left_out_ = false;
};

}  // namespace tarvo::ui
