#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/files.h"
#include "support/host_root.h"

namespace tarvo::platform {
namespace {

using testing::ScopedHostRoot;
using testing::write_bytes;

ProcessOutput run_sh(const std::string& script,
                     const std::optional<std::filesystem::path>& dir = std::nullopt) {
    auto result = run_process_hidden("sh", {"-c", script}, dir);
    if (!result) ADD_FAILURE() << describe(result.error());
    return result ? *result : ProcessOutput{};
}

TEST(RunProcessHidden, CapturesBothStreamsAndTheExitCode) {
    struct Case {
        const char* script;
        std::int32_t code;
        std::string out, err;
    };
    for (const auto& c : {
             Case{"printf out; printf err >&2; exit 3", 3, "out", "err"},
             Case{"printf 'a\\n' >&2; printf b; printf c >&2", 0, "b", "a\nc"}, Case{"exit 255", 255, "", ""},
             Case{"printf '\\377\\000x'", 0, std::string("\xFF\0x", 3), ""},
             Case{"kill -TERM $$", 128 + 15, "", ""},
             Case{"read line; echo \"[$line]\"", 0, "[]\n", ""},  // standard input is empty
         }) {
        const auto out = run_sh(c.script);
        EXPECT_EQ(out.exit_code, c.code) << c.script;
        EXPECT_EQ(out.stdout_bytes, c.out) << c.script;
        EXPECT_EQ(out.stderr_bytes, c.err) << c.script;
    }
}

TEST(RunProcessHidden, DrainsLargeOutputOnBothStreamsWithoutStalling) {
    // Far more than a pipe holds, on both streams at once.
    const auto out = run_sh("head -c 3000000 /dev/zero; head -c 2000000 /dev/zero >&2; printf end >&2");
    EXPECT_EQ(out.stdout_bytes.size(), 3000000u);
    EXPECT_EQ(out.stderr_bytes.size(), 2000003u);
    EXPECT_EQ(out.stderr_bytes.substr(out.stderr_bytes.size() - 3), "end");
}

TEST(RunProcessHidden, PassesEachArgumentUnchanged) {
    const std::vector<std::string> args{"-c", "printf '%s|' \"$@\"", "sh", "a b", "it's \"q\"",
                                        "",   "back\\slash\\"};
    const auto result = run_process_hidden("sh", args);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->stdout_bytes, "a b|it's \"q\"||back\\slash\\|");
}

TEST(RunProcessHidden, RunsInTheGivenWorkingFolder) {
    testing::TempFolder folder;
    EXPECT_EQ(run_sh("pwd -P", folder.path()).stdout_bytes,
              std::filesystem::canonical(folder.path()).string() + "\n");
    const auto missing = run_process_hidden("sh", {"-c", "true"}, folder.path() / "absent");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().code, 2);
}

TEST(RunProcessHidden, AMissingProgramIsOsError2) {
    for (const char* program : {"tarvo-no-such-tool-7f3a", "/nonexistent/tool", ""}) {
        const auto result = run_process_hidden(program, {});
        ASSERT_FALSE(result.has_value()) << program;
        EXPECT_EQ(result.error().code, 2) << program;
        EXPECT_EQ(describe(result.error()), "No such file or directory (os error 2)");
    }
}

TEST(RunProcessHidden, FindsToolsInTheSystemFolderBeforePath) {
    ScopedHostRoot root;
    const auto system32 = root.path() / "C" / "Windows" / "System32";
    write_bytes(system32 / "true", "#!/bin/sh\nprintf system32\nexit 7\n");
    ASSERT_TRUE(make_executable(system32 / "true").has_value());

    const auto result = run_process_hidden("true", {});
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->exit_code, 7);
    EXPECT_EQ(result->stdout_bytes, "system32");

    // A file there that cannot be run is passed over for the one on PATH.
    write_bytes(system32 / "false", "not a program");
    const auto fallback = run_process_hidden("false", {});
    ASSERT_TRUE(fallback.has_value());
    EXPECT_EQ(fallback->exit_code, 1);
}

// An empty or relative PATH entry names the current folder or one below it,
// where anyone may have put a file under a tool's name.
TEST(RunProcessHidden, NeverLooksForAToolInTheCurrentFolder) {
    testing::TempFolder folder;
    for (const char* place : {"tarvo-planted-tool", "sub/tarvo-planted-tool"}) {
        write_bytes(folder.path() / place, "#!/bin/sh\nprintf planted\n");
        ASSERT_TRUE(make_executable(folder.path() / place).has_value());
    }
    const std::string old_path = std::getenv("PATH");
    const auto old_folder = std::filesystem::current_path();
    std::filesystem::current_path(folder.path());
    ::setenv("PATH", ":.:sub:/usr/bin:/bin", 1);

    const auto result = run_process_hidden("tarvo-planted-tool", {});
    ::setenv("PATH", old_path.c_str(), 1);
    std::filesystem::current_path(old_folder);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code, 2);
}

}  // namespace
}  // namespace tarvo::platform
