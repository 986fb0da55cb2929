#include <gtest/gtest.h>

#include "ui/client_app.h"
#include "ui/window_icon.h"

namespace tarvo::ui {
namespace {

TEST(MainWindowOptions, TitleSizesAndTheCarriedIcon) {
    const platform::WindowOptions options = main_window_options();
    EXPECT_EQ(options.title, "Tarvo Enterprise Client");
    EXPECT_EQ(options.inner_width, 760);
    EXPECT_EQ(options.inner_height, 690);
    EXPECT_EQ(options.min_inner_width, 620);
    EXPECT_EQ(options.min_inner_height, 500);
    ASSERT_TRUE(options.icon);
    EXPECT_EQ(options.icon->width, 256);
    EXPECT_EQ(options.icon->height, 256);
    EXPECT_EQ(options.icon->rgba.size(), 256u * 256u * 4u);
}

TEST(DecodeWindowIcon, AnImageThatDoesNotDecodeGivesNoIcon) {
    EXPECT_FALSE(decode_window_icon(""));
    EXPECT_FALSE(decode_window_icon("\x89PNG\r\n\x1a\nnot really"));
}

}  // namespace
}  // namespace tarvo::ui
