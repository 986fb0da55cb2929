#include "drivers/hidden_command.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::string text;
};

class DecodeUtf8Lossy : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8Lossy, ReplacesEachMaximalIllFormedSubpart) {
    EXPECT_EQ(decode_utf8_lossy(GetParam().bytes), GetParam().text) << GetParam().name;
}

const std::string R = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeUtf8Lossy,
    ::testing::Values(DecodeCase{"ascii", "Ok. 200\r\n", "Ok. 200\r\n"},
                      DecodeCase{"valid multi-byte kept", "\xC5\xBC\xE2\x82\xAC\xF0\x9F\x98\x80",
                                 "\xC5\xBC\xE2\x82\xAC\xF0\x9F\x98\x80"},
                      DecodeCase{"code-page byte", "B\xB3\xB9" "d", "B" + R + R + "d"},
                      DecodeCase{"lone continuation", "a\x80" "b", "a" + R + "b"},
                      DecodeCase{"overlong two-byte", "\xC0\xAF", R + R},
                      DecodeCase{"truncated three-byte is one", "\xE2\x82" "x", R + "x"},
                      DecodeCase{"truncated at the end", "x\xF0\x9F\x98", "x" + R},
                      DecodeCase{"surrogate", "\xED\xA0\x80", R + R + R},
                      DecodeCase{"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
                      DecodeCase{"invalid lead bytes", "\xF5\xFF", R + R},
                      DecodeCase{"broken then valid", "\xE2\x28\xA1", R + "(" + R},
                      DecodeCase{"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)}));

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
