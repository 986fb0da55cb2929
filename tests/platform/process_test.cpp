#include "platform/process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/helper_programs.h"
#include "support/json_array.h"

namespace tarvo::platform {
namespace {

using testing::helper_program;

ProcessOutput run_ok(const std::string& program, const std::vector<std::string>& args,
                     const std::optional<std::filesystem::path>& working_dir = std::nullopt) {
    auto result = run_process_hidden(program, args, working_dir);
    if (!result) {
        ADD_FAILURE() << program << ": " << describe(result.error());
        return {};
    }
    return *result;
}

TEST(RunProcessHidden, EveryArgumentReachesTheChildUnchanged) {
    const std::vector<std::vector<std::string>> lists = {
        {},
        {"plain", "two words", "tab\there", ""},
        {"", "", "x"},
        {"say \"hi\"", "\"", "a\"b\"c"},
        {"C:\\ProgramData\\TARVO\\", "a b\\", "\\", "\\\\", "a\\\\b", "a\\\"b", "\\\"", "x\\\\\"y"},
        {"-NoProfile", "-Command",
         "$d = [Environment]::GetFolderPath('Desktop'); if ($d) { $x = 'it''s \"q\"' }"},
        {"zażółć gęślą jaźń", "--code", "ABCD-1234"},
    };
    for (const auto& args : lists) {
        const ProcessOutput out = run_ok(helper_program("echo_args"), args);
        EXPECT_EQ(out.stdout_bytes, testing::json_array(args));
        EXPECT_EQ(out.stderr_bytes, "");
        EXPECT_EQ(out.exit_code, 0);
    }
}

TEST(RunProcessHidden, KeepsTheStreamsApartAndTakesTheExitCode) {
    const ProcessOutput out = run_ok(helper_program("output_child"), {"out-", "ERR.", "3", "7"});
    EXPECT_EQ(out.stdout_bytes, "out-out-out-");
    EXPECT_EQ(out.stderr_bytes, "ERR.ERR.ERR.");
    EXPECT_EQ(out.exit_code, 7);
}

// Far more than a pipe holds, alternating: a parent that read one stream to
// its end before the other would wait forever on a child blocked on the other.
TEST(RunProcessHidden, DrainsBothStreamsWhileTheChildRuns) {
    const std::string out_chunk(100, 'o');
    const std::string err_chunk(100, 'e');
    const ProcessOutput out = run_ok(helper_program("output_child"), {out_chunk, err_chunk, "5000", "0"});
    EXPECT_EQ(out.stdout_bytes, std::string(500000, 'o'));
    EXPECT_EQ(out.stderr_bytes, std::string(500000, 'e'));
}

TEST(RunProcessHidden, ReportsTheChildsExitCodes) {
    for (const int code : {0, 1, 42, 255}) {
        const ProcessOutput out = run_ok(helper_program("output_child"), {"", "", "0", std::to_string(code)});
        EXPECT_EQ(out.exit_code, code);
    }
}

TEST(RunProcessHidden, AMissingToolIsTheSystemsFileNotFound) {
    auto result = run_process_hidden("tarvo-no-such-tool", {"x"});
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, 2);
    EXPECT_FALSE(result.error().message.empty());
    EXPECT_TRUE(describe(result.error()).ends_with(" (os error 2)"));
}

TEST(RunProcessHidden, StartsTheChildInTheGivenFolder) {
    const auto folder = std::filesystem::temp_directory_path() / "tarvo-process-test-cwd";
    std::filesystem::create_directories(folder);
    const ProcessOutput out = run_ok(helper_program("cwd_child"), {}, folder);
    // The folder's own name is the part every platform reports unchanged.
    EXPECT_TRUE(out.stdout_bytes.ends_with("tarvo-process-test-cwd")) << out.stdout_bytes;
}

}  // namespace
}  // namespace tarvo::platform
