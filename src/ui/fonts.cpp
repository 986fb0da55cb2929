#include "ui/fonts.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "drivers/embedded_assets.h"
#include "platform/paths.h"

namespace tarvo::ui {

namespace {

// Latin-1, Latin Extended-A (Polish), dashes and ellipsis, the arrows, U+FFFD.
const ImWchar kGlyphRanges[] = {0x0020, 0x00FF, 0x0100, 0x017F, 0x2010, 0x2027,
                                0x2190, 0x2193, 0xFFFD, 0xFFFD, 0};

std::string read_system_font(const char* windows_path) {
    std::ifstream file(platform::host_path(windows_path), std::ios::binary);
    if (!file) return {};
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string carried_font(std::string_view name) {
    const auto bytes = assets::find(name);
    return bytes ? std::string(*bytes) : std::string();
}

int quarter_pixels(float size_px) { return std::max(4, static_cast<int>(std::lround(size_px * 4))); }

ImFont* add_face(ImFontAtlas& atlas, const std::string& bytes, float size_px, bool merge) {
    if (bytes.empty()) return nullptr;
    ImFontConfig config;
    config.FontDataOwnedByAtlas = false;  // the cache keeps the bytes
    config.MergeMode = merge;
    config.OversampleH = 2;
    config.OversampleV = 1;
    return atlas.AddFontFromMemoryTTF(const_cast<char*>(bytes.data()), static_cast<int>(bytes.size()),
                                      size_px, &config, kGlyphRanges);
}

}  // namespace

FontFaces load_font_faces() {
    return FontFaces{read_system_font("C:\\Windows\\Fonts\\segoeui.ttf"),
                     read_system_font("C:\\Windows\\Fonts\\consola.ttf"), carried_font("fallback-sans.ttf"),
                     carried_font("fallback-mono.ttf")};
}

FontCache::FontCache(FontFaces faces) : faces_(std::move(faces)) {}

ImFont* FontCache::font(FontFamily family, float size_px) {
    const Key key{family, quarter_pixels(size_px)};
    used_.insert(key);
    if (auto found = baked_.find(key); found != baked_.end()) return found->second;
    ImFont* nearest = nullptr;
    int best = 0;
    for (const auto& [baked_key, font] : baked_) {
        if (baked_key.first != family) continue;
        const int distance = std::abs(baked_key.second - key.second);
        if (!nearest || distance < best) nearest = font, best = distance;
    }
    return nearest ? nearest : (baked_.empty() ? nullptr : baked_.begin()->second);
}

bool FontCache::rebuild_if_needed(ImFontAtlas& atlas, bool resizing) {
    // Only the last frame's sizes: those a resize passed through are dropped.
    std::set<Key> wanted;
    wanted.swap(used_);
    const bool missing = std::any_of(wanted.begin(), wanted.end(),
                                     [&](const Key& k) { return !baked_.contains(k); });
    if (!missing || (resizing && !baked_.empty())) return false;
    bake(atlas, wanted);
    return true;
}

void FontCache::bake(ImFontAtlas& atlas, const std::set<std::pair<FontFamily, int>>& sizes) {
    atlas.Clear();
    baked_.clear();
    for (const Key& key : sizes) {
        const float size_px = static_cast<float>(key.second) / 4;
        const bool mono = key.first == FontFamily::monospace;
        const std::string& primary = mono ? faces_.monospace : faces_.proportional;
        const std::string& fallback = mono ? faces_.monospace_fallback : faces_.proportional_fallback;
        ImFont* font = add_face(atlas, primary, size_px, false);
        if (font) add_face(atlas, fallback, size_px, true);
        else font = add_face(atlas, fallback, size_px, false);
        if (font) baked_[key] = font;
    }
    atlas.Build();
    used_.clear();
}

}  // namespace tarvo::ui
