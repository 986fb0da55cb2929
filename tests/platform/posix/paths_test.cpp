#include "platform/paths.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "support/host_root.h"

namespace tarvo::platform {
namespace {

using testing::ScopedHostRoot;

TEST(HostPath, MapsWindowsPathsBelowTheHostRoot) {
    ScopedHostRoot root;
    struct Case {
        const char* windows;
        const char* below_root;
    };
    for (const auto& c : {Case{"C:\\ProgramData\\TARVO\\driver", "C/ProgramData/TARVO/driver"},
                          Case{"c:\\ProgramData\\TARVO", "C/ProgramData/TARVO"}, Case{"C:\\", "C"},
                          Case{"C:", "C"}, Case{"D:/Mixed\\Slashes//x\\", "D/Mixed/Slashes/x"},
                          Case{"C:\\Windows\\Fonts\\segoeui.ttf", "C/Windows/Fonts/segoeui.ttf"}}) {
        EXPECT_EQ(host_path(c.windows), root.path() / c.below_root) << c.windows;
    }
}

TEST(HostPath, DefaultsToTheSystemHostRoot) {
    ::unsetenv("TARVO_HOST_ROOT");
    EXPECT_EQ(host_path("C:\\ProgramData"), std::filesystem::path("/var/lib/tarvo-host/C/ProgramData"));
}

TEST(EnvironmentVariable, IsNothingWhenUnsetOrNotUtf8) {
    ::setenv("TARVO_TEST_VALUE", "Zażółć", 1);
    EXPECT_EQ(environment_variable("TARVO_TEST_VALUE"), std::optional<std::string>("Zażółć"));
    ::setenv("TARVO_TEST_VALUE", "", 1);
    EXPECT_EQ(environment_variable("TARVO_TEST_VALUE"), std::optional<std::string>(""));
    ::setenv("TARVO_TEST_VALUE", "bad\xFF", 1);
    EXPECT_EQ(environment_variable("TARVO_TEST_VALUE"), std::nullopt);
    ::unsetenv("TARVO_TEST_VALUE");
    EXPECT_EQ(environment_variable("TARVO_TEST_VALUE"), std::nullopt);
}

TEST(OwnExecutablePath, IsThisTestProgram) {
    const auto path = own_executable_path();
    ASSERT_TRUE(path.has_value());
    EXPECT_TRUE(path->is_absolute());
    EXPECT_EQ(path->filename(), "tarvo_platform_tests");
}

TEST(PathText, ReplacesBytesThatAreNotUtf8) {
    EXPECT_EQ(path_text(path_from_text("/a/Jan's ż")), "/a/Jan's ż");
    EXPECT_EQ(path_text(std::filesystem::path("/a/\xFF"
                                              "b")),
              "/a/\xEF\xBF\xBD"
              "b");
}

}  // namespace
}  // namespace tarvo::platform
