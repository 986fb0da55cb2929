#include "platform/paths.h"

#include <gtest/gtest.h>

namespace tarvo::platform {
namespace {

TEST(Paths, TextRoundTripKeepsNonAsciiNames) {
    for (const std::string text : {"C:\\ProgramData\\TARVO", "/tmp/zażółć gęślą", "Tarvo Client.lnk"})
        EXPECT_EQ(path_text(path_from_text(text)), text);
}

TEST(Paths, OwnExecutableIsThisTestProgram) {
    const auto self = own_executable_path();
    ASSERT_TRUE(self);
    EXPECT_TRUE(std::filesystem::is_regular_file(*self));
    EXPECT_EQ(self->stem().string(), "tarvo_platform_tests");
}

TEST(Paths, AnUnsetVariableIsNothing) {
    EXPECT_EQ(environment_variable("TARVO_SURELY_NOT_SET_ANYWHERE"), std::nullopt);
}

}  // namespace
}  // namespace tarvo::platform
