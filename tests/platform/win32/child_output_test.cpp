// A started child's output and exit status over real pipes, with the system
// calls replaced by a recording double that fails where a test says: the
// child is still reported as having run, with what could be read.
#include "platform/win32/child_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo::platform::win32 {
namespace {

using ::testing::ElementsAre;

// What the double does; one per test, reached through a global because the
// calls are plain functions.
struct Script {
    HANDLE failing_pipe = nullptr;   // its reads fail with ERROR_ACCESS_DENIED ...
    int good_reads_first = 0;        // ... after this many succeeded
    bool wait_fails = false;         // WAIT_FAILED with ERROR_INVALID_HANDLE
    bool exit_code_fails = false;    // FALSE with ERROR_ACCESS_DENIED
    DWORD exit_code = 3;             // otherwise
    std::vector<std::string> calls;  // "wait" and "exit code", in order
};
Script* script = nullptr;

BOOL read_file(HANDLE file, void* buffer, DWORD size, DWORD* count) {
    if (file == script->failing_pipe) {
        if (script->good_reads_first == 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        --script->good_reads_first;
    }
    return ReadFile(file, buffer, size, count, nullptr);
}
DWORD wait(HANDLE) {
    script->calls.push_back("wait");
    if (!script->wait_fails) return WAIT_OBJECT_0;
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
BOOL exit_code(HANDLE, DWORD* code) {
    script->calls.push_back("exit code");
    if (script->exit_code_fails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *code = script->exit_code;
    return TRUE;
}
const ChildCalls kDouble{read_file, wait, exit_code};

// A pipe holding `text`, its writing end closed as a child's is when it ends.
struct FilledPipe {
    explicit FilledPipe(const std::string& text) {
        HANDLE write = nullptr;
        EXPECT_TRUE(CreatePipe(&read, &write, nullptr, 0));
        DWORD written = 0;
        EXPECT_TRUE(WriteFile(write, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        CloseHandle(write);
    }
    ~FilledPipe() { CloseHandle(read); }
    HANDLE read = nullptr;
};

class ChildOutput : public ::testing::Test {
protected:
    void SetUp() override { script = &double_; }
    void TearDown() override { script = nullptr; }

    ProcessOutput collect() { return collect_child_output(GetCurrentProcess(), out.read, err.read, kDouble); }

    Script double_;
    FilledPipe out{"tarvo out"};
    FilledPipe err{"tarvo err"};
};

TEST_F(ChildOutput, AChildThatRanAndWasReadIsItsExitCodeAndBothStreams) {
    const ProcessOutput output = collect();
    EXPECT_EQ(output.exit_code, 3);
    EXPECT_EQ(output.stdout_bytes, "tarvo out");
    EXPECT_EQ(output.stderr_bytes, "tarvo err");
    EXPECT_FALSE(output.collect_error);
    EXPECT_TRUE(output.exit_code_read);
}

TEST_F(ChildOutput, AFailedReadOfEitherStreamKeepsTheExitCodeAndWhatWasRead) {
    for (const bool on_stdout : {true, false}) {
        for (const int good_reads : {0, 1}) {
            SCOPED_TRACE((on_stdout ? "stdout, " : "stderr, ") + std::to_string(good_reads) + " good reads");
            FilledPipe fresh_out{"tarvo out"};
            FilledPipe fresh_err{"tarvo err"};
            double_ = Script{};
            double_.failing_pipe = on_stdout ? fresh_out.read : fresh_err.read;
            double_.good_reads_first = good_reads;

            const ProcessOutput output =
                collect_child_output(GetCurrentProcess(), fresh_out.read, fresh_err.read, kDouble);

            ASSERT_TRUE(output.collect_error);
            EXPECT_EQ(output.collect_error->code, ERROR_ACCESS_DENIED);
            EXPECT_EQ(output.exit_code, 3);
            EXPECT_TRUE(output.exit_code_read);
            // The first read takes the whole text; the failure comes after it or instead of it.
            const std::string failed_stream = on_stdout ? output.stdout_bytes : output.stderr_bytes;
            EXPECT_EQ(failed_stream, good_reads ? (on_stdout ? "tarvo out" : "tarvo err") : "");
            EXPECT_EQ(on_stdout ? output.stderr_bytes : output.stdout_bytes, on_stdout ? "tarvo err" : "tarvo out");
            EXPECT_THAT(double_.calls, ElementsAre("wait", "exit code"));
        }
    }
}

TEST_F(ChildOutput, AnUnreadableExitStatusIsMinusOneWithItsErrorAndTheOutput) {
    double_.exit_code_fails = true;
    const ProcessOutput output = collect();
    EXPECT_EQ(output.exit_code, -1);
    EXPECT_FALSE(output.exit_code_read);
    ASSERT_TRUE(output.collect_error);
    EXPECT_EQ(output.collect_error->code, ERROR_ACCESS_DENIED);
    EXPECT_EQ(output.stdout_bytes, "tarvo out");
}

// A wait that failed says nothing of the child's end: the exit status (which
// could be the running mark, 259) is not read.
TEST_F(ChildOutput, AFailedWaitReadsNoExitStatus) {
    double_.wait_fails = true;
    double_.exit_code = STILL_ACTIVE;
    const ProcessOutput output = collect();
    EXPECT_THAT(double_.calls, ElementsAre("wait"));
    EXPECT_EQ(output.exit_code, -1);
    EXPECT_FALSE(output.exit_code_read);
    ASSERT_TRUE(output.collect_error);
    EXPECT_EQ(output.collect_error->code, ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace tarvo::platform::win32
