// The two font families, baked at exactly the pixel sizes the panel draws
// (on a quarter-pixel grid): the toolkit of this version has no dynamic
// sizes, and text scaled from another baked size blurs.
//
// Each size is the system font (Segoe UI, Consolas) with the fallback's
// glyphs merged in for whatever it lacks; the toolkit's built-in font, which
// has no Polish letters, is never used.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

struct ImFont;
struct ImFontAtlas;

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

class FontCache {
public:
    explicit FontCache(FontFaces faces);

    // The font baked at `size_px` (rounded to a quarter pixel). A size not
    // baked yet is remembered for the next rebuild; meanwhile the nearest
    // baked size of the family stands in.
    ImFont* font(FontFamily family, float size_px);

    // Once between frames: when the last frame asked for a size not baked,
    // bakes exactly the sizes that frame used. Held back while the window is
    // being resized, except when nothing is baked yet. True when the atlas
    // changed.
    bool rebuild_if_needed(ImFontAtlas& atlas, bool resizing);

    // Bakes these sizes now (the first frame's).
    void bake(ImFontAtlas& atlas, const std::set<std::pair<FontFamily, int>>& sizes);

private:
    using Key = std::pair<FontFamily, int>;  // size in quarter pixels
    FontFaces faces_;
    std::map<Key, ImFont*> baked_;
    std::set<Key> used_;  // since the last call of rebuild_if_needed
};

}  // namespace tarvo::ui
