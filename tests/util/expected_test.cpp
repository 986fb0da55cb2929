#include "util/expected.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

Expected<int, std::string> parse_digit(char c) {
    if (c < '0' || c > '9') return unexpected(std::string("not a digit"));
    return c - '0';
}

TEST(Expected, CarriesValueOrError) {
    auto ok = parse_digit('7');
    ASSERT_TRUE(ok);
    EXPECT_EQ(*ok, 7);

    auto bad = parse_digit('x');
    ASSERT_FALSE(bad);
    EXPECT_EQ(bad.error(), "not a digit");
}

TEST(Expected, SameTypeForValueAndErrorStaysDistinct) {
    Expected<std::string, std::string> value{std::string("v")};
    Expected<std::string, std::string> error{unexpected(std::string("e"))};
    EXPECT_TRUE(value.has_value());
    EXPECT_FALSE(error.has_value());
    EXPECT_EQ(error.error(), "e");
}

TEST(ExpectedDeath, ReadingTheWrongSideEndsTheProcess) {
    auto bad = parse_digit('x');
    EXPECT_DEATH((void)bad.value(), "");
}

}  // namespace
}  // namespace tarvo
