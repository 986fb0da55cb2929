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

// A child that ran is never reported as one that could not be started.
TEST(CommandOutputFrom, AChildThatRanKeepsItsExitCodeWhenReadingItsOutputFailed) {
    platform::ProcessOutput ran{3, "part", "", platform::OsError{109, "The pipe has been ended"}};
    const auto out = command_output_from(ran);
    EXPECT_EQ(out.code, 3);
    EXPECT_EQ(out.text, "part");
}

TEST(CommandOutputFrom, AnUnreadableExitStatusIsMinusOneWithItsText) {
    platform::ProcessOutput ran{-1, "part", "", platform::OsError{6, "The handle is invalid"}, false};
    const auto out = command_output_from(ran);
    EXPECT_EQ(out.code, -1);
    EXPECT_EQ(out.text, "The handle is invalid (os error 6)");
}

}  // namespace
}  // namespace tarvo
