#include <gtest/gtest.h>

#include "drivers/embedded_assets.h"

namespace tarvo {
namespace {

unsigned big_endian_32(std::string_view bytes, std::size_t at) {
    unsigned value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The window icon is carried as a 256 x 256, 8-bit RGBA PNG image.
TEST(WindowIconAsset, IsA256PixelRgbaPng) {
    const auto png = assets::find("tarvo-256.png");
    ASSERT_TRUE(png);
    ASSERT_GT(png->size(), 33u);
    EXPECT_EQ(png->substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png->substr(12, 4), "IHDR");
    EXPECT_EQ(big_endian_32(*png, 16), 256u);
    EXPECT_EQ(big_endian_32(*png, 20), 256u);
    EXPECT_EQ((*png)[24], 8);  // bit depth
    EXPECT_EQ((*png)[25], 6);  // colour type RGBA
}

}  // namespace
}  // namespace tarvo
