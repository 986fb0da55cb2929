#include "drivers/hidden_command.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

TEST(CommandOutputFrom, JoinsStandardOutputThenStandardErrorWithoutSeparator) {
    const auto out = command_output_from(platform::ProcessOutput{-5, "out\xFF", "err"});
    EXPECT_EQ(out.code, -5);
    EXPECT_EQ(out.text, "out" + R + "err");
}

TEST(CommandOutputFrom, AFailedStartIsMinusOneWithTheSystemText) {
    const auto out = command_output_from(unexpected(platform::OsError{2, "No such file"}));
    EXPECT_EQ(out.code, -1);
    EXPECT_EQ(out.text, "No such file (os error 2)");
}

}  // namespace
}  // namespace tarvo
