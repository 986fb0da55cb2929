#include "ui/fonts.h"

#include <imgui_internal.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>

#include "drivers/embedded_assets.h"
#include "platform/paths.h"

namespace tarvo::ui {

namespace {

using Glyphs = std::bitset<0x10000>;

struct Range {
    char32_t first, last;
};

// Latin (Basic, Latin-1, Extended-A and -B), Greek and Coptic, Cyrillic with
// its supplement, general punctuation, currency signs, ← ↑ → ↓, U+FFFD.
constexpr Range kDrawable[] = {{0x0020, 0x007E}, {0x00A0, 0x024F}, {0x0370, 0x03FF}, {0x0400, 0x052F},
                               {0x2000, 0x206F}, {0x20A0, 0x20CF}, {0x2190, 0x2193}, {0xFFFD, 0xFFFD}};

// What the program's own texts are written with (Polish in Latin
// Extended-A, dashes, the ellipsis and the bullet): baked for a size before
// anything is noted at it, and kept when a bake must leave characters out.
constexpr Range kOwn[] = {
    {0x0020, 0x007E}, {0x00A0, 0x017F}, {0x2010, 0x2027}, {0x2190, 0x2193}, {0xFFFD, 0xFFFD}};

Glyphs glyphs_of(std::span<const Range> ranges) {
    Glyphs g;
    for (const Range& r : ranges)
        for (char32_t c = r.first; c <= r.last; ++c) g.set(c);
    return g;
}

const Glyphs& drawable_glyphs() {
    static const Glyphs g = glyphs_of(kDrawable);
    return g;
}

const Glyphs& own_glyphs() {
    static const Glyphs g = glyphs_of(kOwn);
    return g;
}

// The toolkit's glyph ranges (pairs of first and last, ending in 0) of a set.
std::vector<ImWchar> ranges_of(const Glyphs& glyphs) {
    std::vector<ImWchar> ranges;
    for (const Range& r : kDrawable) {
        for (char32_t c = r.first; c <= r.last; ++c) {
            if (!glyphs.test(c)) continue;
            if (!ranges.empty() && ranges.back() + 1u == c) ranges.back() = static_cast<ImWchar>(c);
            else ranges.insert(ranges.end(), {static_cast<ImWchar>(c), static_cast<ImWchar>(c)});
        }
    }
    ranges.push_back(0);
    return ranges;
}

std::string read_system_font(const char* windows_path) {
    std::ifstream file(platform::host_path(windows_path), std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string carried_font(std::string_view name) {
    const auto bytes = assets::find(name);
    return bytes ? std::string(*bytes) : std::string();
}

// Printable ASCII, in every monospace size from the start: the whole log
// passes through note_text every frame, and skipping its ASCII there, eight
// bytes at a time, keeps that cheap.
const Glyphs& ascii_glyphs() {
    constexpr Range kAscii[] = {{0x20, 0x7E}};
    static const Glyphs g = glyphs_of(kAscii);
    return g;
}

// Calls `take` with each drawable character of a UTF-8 text (any other shows
// as U+FFFD), or only with those beyond ASCII; ASCII is gathered first and
// taken once a character.
template <class Take>
void for_each_drawable(std::string_view text, bool beyond_ascii, Take take) {
    std::uint64_t ascii[2] = {0, 0};
    const char* at = text.data();
    const char* const end = at + text.size();
    while (at < end) {
        if (beyond_ascii) {
            for (std::uint64_t eight = 0; end - at >= 8; at += 8) {
                std::memcpy(&eight, at, 8);
                if (eight & 0x8080808080808080u) break;
            }
            if (at == end) break;
        }
        const auto byte = static_cast<unsigned char>(*at);
        if (byte < 0x80) {
            ascii[byte >> 6] |= std::uint64_t{1} << (byte & 63);
            ++at;
            continue;
        }
        unsigned int c = 0;
        at += std::max(1, ImTextCharFromUtf8(&c, at, end));
        if (is_drawable(c)) take(static_cast<char32_t>(c));
    }
    if (beyond_ascii) return;
    for (unsigned word = 0; word < 2; ++word)
        for (std::uint64_t bits = ascii[word]; bits; bits &= bits - 1) {
            const auto c = static_cast<char32_t>(word * 64 + static_cast<unsigned>(std::countr_zero(bits)));
            if (is_drawable(c)) take(c);
        }
}

int quarter_pixels(float size_px) { return std::max(4, static_cast<int>(std::lround(size_px * 4))); }

bool fits(const ImFontAtlas& atlas, int limit) { return atlas.TexWidth <= limit && atlas.TexHeight <= limit; }

}  // namespace

FontFaces load_font_faces() {
    return FontFaces{read_system_font("C:\\Windows\\Fonts\\segoeui.ttf"),
                     read_system_font("C:\\Windows\\Fonts\\consola.ttf"), carried_font("fallback-sans.ttf"),
                     carried_font("fallback-mono.ttf")};
}

bool is_drawable(char32_t c) { return c < 0x10000 && drawable_glyphs().test(c); }

FontCache::FontCache(FontFaces faces) : faces_(std::move(faces)) {
    // The first font of a family that has a character gives it; monospace
    // ends with the proportional font the program carries.
    using Face = std::string FontFaces::*;
    const std::vector<Face> families[2] = {
        {&FontFaces::proportional, &FontFaces::proportional_fallback},
        {&FontFaces::monospace, &FontFaces::monospace_fallback, &FontFaces::proportional_fallback}};
    for (int family = 0; family < 2; ++family)
        for (const Face face : families[family]) {
            const auto same = [&](Face earlier) { return faces_.*earlier == faces_.*face; };
            if (!(faces_.*face).empty() && std::none_of(chains_[family].begin(), chains_[family].end(), same))
                chains_[family].push_back(face);
        }
}

void FontCache::set_max_texture_size(int pixels) {
    if (pixels > 0) max_texture_size_ = pixels;
}

ImFont* FontCache::font(FontFamily family, float size_px) {
    const Key key{family, quarter_pixels(size_px)};
    used_.insert(key);
    ImFont* chosen = nullptr;
    if (auto found = baked_.find(key); found != baked_.end()) {
        chosen = found->second;
    } else {
        int best = 0;
        for (const auto& [baked_key, font] : baked_) {
            if (baked_key.first != family) continue;
            const int distance = std::abs(baked_key.second - key.second);
            if (!chosen || distance < best) chosen = font, best = distance;
        }
        if (!chosen && !baked_.empty()) chosen = baked_.begin()->second;
    }
    const std::pair<const ImFont*, Key> serves{chosen, key};
    if (chosen && std::find(served_.begin(), served_.end(), serves) == served_.end())
        served_.push_back(serves);
    return chosen;
}

void FontCache::note_text(const ImFont* font, std::string_view text) {
    if (!font || text.empty()) return;
    const auto serves = [font](const auto& s) { return s.first == font; };
    const auto first = std::find_if(served_.begin(), served_.end(), serves);
    if (first == served_.end()) return;
    if (std::find_if(std::next(first), served_.end(), serves) == served_.end()) {
        Glyphs& noted = noted_[first->second];
        const auto in_atlas = in_atlas_.find(first->second);
        const Key key = first->second;
        for_each_drawable(text, key.first == FontFamily::monospace, [&](char32_t c) {
            noted.set(c);
            if (in_atlas != in_atlas_.end() && !in_atlas->second.test(c)) character_missing_ = true;
        });
        return;
    }
    // A stand-in for several sizes, whose own fonts come with the next bake.
    for (const auto& [served, key] : served_)
        if (served == font)
            for_each_drawable(text, false, [&guessed = guessed_[key]](char32_t c) { guessed.set(c); });
}

bool FontCache::rebuild_if_needed(ImFontAtlas& atlas, bool resizing) {
    // Only the last frame's sizes: those a resize passed through are dropped.
    const std::set<Key> wanted = used_;
    const bool missing = character_missing_ || std::any_of(wanted.begin(), wanted.end(),
                                                           [&](const Key& k) { return !baked_.contains(k); });
    if (!missing || (resizing && !baked_.empty())) {
        end_frame();
        return false;
    }
    bake(atlas, wanted);
    return true;
}

void FontCache::bake(ImFontAtlas& atlas, const std::set<std::pair<FontFamily, int>>& sizes) {
    const auto of = [](const std::map<Key, Glyphs>& map, const Key& key) {
        const auto found = map.find(key);
        return found == map.end() ? Glyphs() : found->second;
    };
    const auto always = [](const Key& key) {
        Glyphs g = key.first == FontFamily::monospace ? ascii_glyphs() : Glyphs();
        return g.set(' ').set(0xFFFD);
    };
    std::map<Key, Glyphs> drawn, glyphs;
    bool guesses = false;
    for (const Key& key : sizes) {
        drawn[key] = of(drawn_, key) | of(noted_, key);
        const Glyphs guessed = of(guessed_, key) & ~drawn[key];
        guesses = guesses || guessed.any();
        glyphs[key] = drawn[key] | guessed;
        // Nothing drawn at this size yet (the first frame's sizes): the program's own letters.
        if (glyphs[key].none()) glyphs[key] = own_glyphs();
        glyphs[key] |= always(key);
    }
    drawn_ = drawn;
    left_out_ = false;
    // Smaller and smaller until the atlas fits: one sample a pixel; without
    // the guesses of stand-in fonts (the sizes are baked again when their own
    // fonts draw what is missing); the largest sizes with the program's own
    // letters only, those drawn beyond them given up.
    bool fitted = build(atlas, glyphs, 2) || build(atlas, glyphs, 1);
    if (!fitted && guesses) {
        for (auto& [key, set] : glyphs) set = drawn[key] | always(key);
        fitted = build(atlas, glyphs, 1);
    }
    in_atlas_ = glyphs;
    std::vector<Key> largest_first(sizes.begin(), sizes.end());
    std::stable_sort(largest_first.begin(), largest_first.end(),
                     [](const Key& a, const Key& b) { return a.second > b.second; });
    for (auto key = largest_first.begin(); !fitted && key != largest_first.end(); ++key) {
        glyphs[*key] &= own_glyphs();
        left_out_ = true;
        fitted = build(atlas, glyphs, 1);
    }
    end_frame();
}

bool FontCache::build(ImFontAtlas& atlas, const std::map<Key, Glyphs>& glyphs, int oversampling) {
    atlas.Clear();
    baked_.clear();
    ranges_.clear();
    ranges_.reserve(glyphs.size());
    for (const auto& [key, set] : glyphs) {
        ranges_.push_back(ranges_of(set));
        ImFont* font = nullptr;
        for (std::string FontFaces::*face : chains_[key.first == FontFamily::monospace ? 1 : 0]) {
            const std::string& bytes = faces_.*face;
            ImFontConfig config;
            config.FontDataOwnedByAtlas = false;  // the cache keeps the bytes (the toolkit copies them)
            config.MergeMode = font != nullptr;
            config.OversampleH = oversampling;
            config.OversampleV = 1;
            // One sample a pixel stays sharp only on whole-pixel positions.
            config.PixelSnapH = oversampling == 1;
            ImFont* added = atlas.AddFontFromMemoryTTF(
                const_cast<char*>(bytes.data()), static_cast<int>(bytes.size()),
                static_cast<float>(key.second) / 4, &config, ranges_.back().data());
            if (!font) font = added;
        }
        if (font) baked_[key] = font;
    }
    atlas.TexDesiredWidth = 0;
    atlas.Build();
    // Else as wide as allowed (a power of two), so as low as possible.
    int widest = 64;
    while (widest * 2 <= std::min(max_texture_size_, 4096)) widest *= 2;
    if (!fits(atlas, max_texture_size_) && atlas.TexWidth != widest) {
        atlas.TexDesiredWidth = widest;
        atlas.Build();
    }
    oversampling_ = oversampling;
    return fits(atlas, max_texture_size_);
}

void FontCache::end_frame() {
    used_.clear();
    served_.clear();
    noted_.clear();
    guessed_.clear();
    character_missing_ = false;
}

}  // namespace tarvo::ui
