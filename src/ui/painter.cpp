#include "ui/painter.h"

#include <cfloat>

namespace tarvo::ui {

ImVec2 text_size(const DrawScale& scale, const ImFont* font, std::string_view text) {
    if (!font) return ImVec2(0, 0);
    scale.fonts.note_text(font, text);
    return font->CalcTextSizeA(font->FontSize, FLT_MAX, 0.0f, text.data(), text.data() + text.size());
}

void draw_text(const DrawScale& scale, ImDrawList& painter, const ImFont* font, Anchor anchor, ImVec2 point,
               ImU32 colour, std::string_view text) {
    if (!font || text.empty()) return;
    const ImVec2 size = text_size(scale, font, text);
    float x = point.x;
    if (anchor == Anchor::centre) x -= size.x / 2;
    else if (anchor == Anchor::right_centre) x -= size.x;
    painter.AddText(font, font->FontSize, ImVec2(x, point.y - size.y / 2), colour, text.data(),
                    text.data() + text.size());
}

}  // namespace tarvo::ui
