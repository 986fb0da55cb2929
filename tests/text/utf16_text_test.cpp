#include "text/utf16_text.h"

#include <gtest/gtest.h>

namespace tarvo::text {
namespace {

TEST(Utf16Text, ConvertsEveryPlaneBothWays) {
    const std::string utf8 = "a\xC5\xBC\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ż € 😀
    const std::u16string utf16 = u"a\u017C\u20AC\U0001F600";
    EXPECT_EQ(utf8_to_utf16(utf8), utf16);
    EXPECT_EQ(utf16_to_utf8(utf16), utf8);
    EXPECT_TRUE(is_valid_utf16(utf16));
}

TEST(Utf16Text, LoneSurrogatesBecomeReplacementCharacters) {
    const std::u16string high_alone = {u'a', 0xD800, u'b'};
    const std::u16string low_alone = {0xDC00};
    const std::u16string high_at_end = {u'a', 0xDBFF};
    const std::u16string reversed_pair = {0xDE00, 0xD83D};
    for (const auto& text : {high_alone, low_alone, high_at_end, reversed_pair})
        EXPECT_FALSE(is_valid_utf16(text));
    EXPECT_EQ(utf16_to_utf8(high_alone),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(utf16_to_utf8(low_alone), "\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(high_at_end), "a\xEF\xBF\xBD");
    EXPECT_EQ(utf16_to_utf8(reversed_pair), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf16Text, IllFormedUtf8BecomesOneReplacementPerMaximalSubpart) {
    struct Case {
        std::string utf8;
        std::u16string utf16;
    };
    const Case cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\xC5", u"a\uFFFD"},                              // truncated pair
        {"\xE2\x82x", u"\uFFFDx"},                          // truncated triple: one replacement
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
    };
    for (const Case& c : cases) EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16);
}

}  // namespace
}  // namespace tarvo::text
