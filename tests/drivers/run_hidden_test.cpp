#include <gtest/gtest.h>

#include "drivers/hidden_command.h"
#include "platform/process.h"  // what run_hidden runs on
#include "support/helper_programs.h"
#include "support/json_array.h"

namespace tarvo {
namespace {

using testing::helper_program;

TEST(RunHidden, TextIsAllOfStdoutThenAllOfStderr) {
    const CommandOutput out = run_hidden(helper_program("output_child"), {"out ", "err ", "3", "4"});
    EXPECT_EQ(out.code, 4);
    EXPECT_EQ(out.text, "out out out err err err ");
}

TEST(RunHidden, InvalidBytesOfEitherStreamBecomeReplacementCharacters) {
    const CommandOutput out = run_hidden(helper_program("output_child"), {"a%A5", "%B3b", "1", "0"});
    EXPECT_EQ(out.text,
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
}

TEST(RunHidden, AMissingToolIsMinusOneWithTheSystemsError) {
    const CommandOutput out = run_hidden("tarvo-no-such-tool", {});
    EXPECT_EQ(out.code, -1);
    EXPECT_TRUE(out.text.ends_with(" (os error 2)")) << out.text;
    EXPECT_GT(out.text.size(), std::string(" (os error 2)").size());
}

TEST(RunHidden, AScriptArgumentArrivesAsOneArgument) {
    const std::vector<std::string> args = {
        "-NoProfile", "-Command",
        "$sc.TargetPath = 'C:\\Users\\O''Brien\\TarvoClient.exe'; $sc.Description = \"x\"; $sc.Save()"};
    const CommandOutput out = run_hidden(helper_program("echo_args"), args);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.text, testing::json_array(args));
}

TEST(RunHidden, RunsInTheGivenFolder) {
    const auto folder = std::filesystem::temp_directory_path() / "tarvo-run-hidden-cwd";
    std::filesystem::create_directories(folder);
    const CommandOutput out = run_hidden_in(helper_program("cwd_child"), {}, folder);
    EXPECT_EQ(out.code, 0);
    EXPECT_TRUE(out.text.ends_with("tarvo-run-hidden-cwd")) << out.text;
}

}  // namespace
}  // namespace tarvo
