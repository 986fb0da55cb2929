#include <gtest/gtest.h>

#include "platform/process.h"
#include "support/helper_programs.h"

namespace tarvo::platform {
namespace {

// A Windows exit status is 32 bits; an NTSTATUS such as an access violation
// has the top bit set and reads as a negative number.
TEST(RunProcessHiddenWin32, ExitStatusWithTheTopBitSetIsNegative) {
    struct Case {
        std::string exit_arg;
        std::int32_t code;
    };
    const Case cases[] = {{"-1073741819", -1073741819},  // 0xC0000005
                          {"-1", -1},
                          {"259", 259}};  // the value GetExitCodeProcess uses for "still running"
    for (const Case& c : cases) {
        auto result = run_process_hidden(testing::helper_program("output_child"), {"", "", "0", c.exit_arg});
        ASSERT_TRUE(result) << describe(result.error());
        EXPECT_EQ(result->exit_code, c.code);
    }
}

}  // namespace
}  // namespace tarvo::platform

namespace tarvo::platform {
namespace {

// A bare name is found the way Windows finds its tools: here cmd.exe in the
// system folder, which is not on the test's own folder.
TEST(RunProcessHiddenWin32, FindsABareToolNameInTheSystemFolder) {
    auto result = run_process_hidden("cmd", {"/c", "echo tarvo& exit 3"});
    ASSERT_TRUE(result) << describe(result.error());
    EXPECT_EQ(result->exit_code, 3);
    EXPECT_EQ(result->stdout_bytes, "tarvo\r\n");
}

}  // namespace
}  // namespace tarvo::platform
