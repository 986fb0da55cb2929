#include "ui/window_icon.h"

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

namespace tarvo::ui {

std::optional<platform::WindowIcon> decode_window_icon(std::string_view png) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()),
                                            static_cast<int>(png.size()), &width, &height, &channels, 4);
    if (!pixels) return std::nullopt;
    platform::WindowIcon icon;
    icon.width = width;
    icon.height = height;
    icon.rgba.assign(pixels, pixels + static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    stbi_image_free(pixels);
    return icon;
}

}  // namespace tarvo::ui
