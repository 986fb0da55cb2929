#include "text/utf8.h"

#include <gtest/gtest.h>

namespace tarvo::text {
namespace {

// Every lossy user (UTF-16 conversion, lossy UTF-8, access-code cleaning)
// steps through text with decode_utf8_at: its code point and the bytes it
// takes decide what each of them shows.
struct StepCase {
    const char* name;
    std::string bytes;
    Utf8Step step;
};

TEST(DecodeUtf8At, TakesOneSequenceOrItsMaximalIllFormedSubpart) {
    const StepCase cases[] = {
        {"ascii", "A", {U'A', 1, true}},
        {"two bytes", "\xC5\xBC", {0x017C, 2, true}},
        {"three bytes", "\xE2\x82\xAC", {0x20AC, 3, true}},
        {"four bytes", "\xF0\x9F\x98\x80", {0x1F600, 4, true}},
        {"highest code point", "\xF4\x8F\xBF\xBF", {0x10FFFF, 4, true}},
        {"lone continuation", "\x80", {0, 1, false}},
        {"overlong lead", "\xC0\xAF", {0, 1, false}},
        {"overlong three-byte", "\xE0\x80\x80", {0, 1, false}},
        {"encoded surrogate", "\xED\xA0\x80", {0, 1, false}},
        {"above U+10FFFF", "\xF4\x90\x80\x80", {0, 1, false}},
        {"lead beyond F4", "\xF5\x80", {0, 1, false}},
        {"truncated three-byte", "\xE2\x82", {0, 2, false}},
        {"broken in the third byte", "\xF0\x9F\x41", {0, 2, false}},
        {"truncated four-byte", "\xF0\x9F\x98", {0, 3, false}},
    };
    for (const StepCase& c : cases) {
        const Utf8Step step = decode_utf8_at(c.bytes, 0);
        EXPECT_EQ(step.valid, c.step.valid) << c.name;
        EXPECT_EQ(step.length, c.step.length) << c.name;
        if (c.step.valid) {
            EXPECT_EQ(step.code_point, c.step.code_point) << c.name;
        }
    }
}

TEST(DecodeUtf8At, StartsAtTheGivenPosition) {
    const Utf8Step step = decode_utf8_at("ab\xC5\xBC", 2);
    EXPECT_TRUE(step.valid);
    EXPECT_EQ(step.code_point, char32_t{0x017C});
    EXPECT_EQ(step.length, 2u);
}

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
                      DecodeCase{"code-page byte",
                                 "B\xB3\xB9"
                                 "d",
                                 "B" + R + R + "d"},
                      DecodeCase{"lone continuation",
                                 "a\x80"
                                 "b",
                                 "a" + R + "b"},
                      DecodeCase{"overlong two-byte", "\xC0\xAF", R + R},
                      DecodeCase{"truncated three-byte is one",
                                 "\xE2\x82"
                                 "x",
                                 R + "x"},
                      DecodeCase{"truncated at the end", "x\xF0\x9F\x98", "x" + R},
                      DecodeCase{"surrogate", "\xED\xA0\x80", R + R + R},
                      DecodeCase{"above U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
                      DecodeCase{"invalid lead bytes", "\xF5\xFF", R + R},
                      DecodeCase{"broken then valid", "\xE2\x28\xA1", R + "(" + R},
                      DecodeCase{"nul kept", std::string("a\0b", 3), std::string("a\0b", 3)}));

// What the developer's log mirror writes to a terminal: text from outside
// (a node name, an error body) never reaches it as a control.
TEST(EscapeControls, ShowsControlsAndBrokenBytesAndKeepsEveryOtherCharacter) {
    const struct {
        const char* name;
        std::string bytes;
        std::string shown;
    } cases[] = {
        {"plain text", "Węzeł 7: OK (100%)", "Węzeł 7: OK (100%)"},
        {"Polish letters", "Zażółć gęślą jaźń ŻÓŁĆ", "Zażółć gęślą jaźń ŻÓŁĆ"},
        {"other scripts and emoji", "€ 日本 \xF0\x9F\x98\x80", "€ 日本 \xF0\x9F\x98\x80"},
        {"escape sequence", "\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
        {"carriage return over the line", "ok\rFAKE", "ok\\x0dFAKE"},
        {"line feed and tab", "a\nb\tc", "a\\x0ab\\x09c"},
        {"bell, backspace, nul", std::string("\x07\x08\0", 3), "\\x07\\x08\\x00"},
        {"last C0 control and DEL", "\x1f\x7f", "\\x1f\\x7f"},
        {"space and tilde kept", " ~", " ~"},
        {"C1 controls: CSI, NEL, first and last",
         "\xC2\x9B"
         "31m \xC2\x85 \xC2\x80\xC2\x9F",
         "\\u{9b}31m \\u{85} \\u{80}\\u{9f}"},
        {"first after C1 kept", "\xC2\xA0\xC2\xA9", "\xC2\xA0\xC2\xA9"},
        {"code-page bytes",
         "B\xB3\xB9"
         "d",
         "B\\xb3\\xb9d"},
        {"overlong ESC", "\xC0\x9B", "\\xc0\\x9b"},
        {"truncated sequence then text",
         "\xE2\x82"
         "x",
         "\\xe2\\x82x"},
        {"encoded surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
        {"truncated at the end", "x\xF0\x9F\x98", "x\\xf0\\x9f\\x98"},
        {"backslash kept as it is", "C:\\ProgramData\\TARVO", "C:\\ProgramData\\TARVO"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(escape_controls(c.bytes), c.shown) << c.name;
}

}  // namespace
}  // namespace tarvo::text
