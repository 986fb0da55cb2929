#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/process.h"
#include "support/helper_programs.h"
#include "support/json_array.h"
#include "support/temp_folder.h"

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

// Makes `folder` the current folder and `path` the PATH for one test, and puts
// both back afterwards.
class ScopedSearchPlaces {
public:
    ScopedSearchPlaces(const std::filesystem::path& folder, const std::wstring& path)
        : old_folder_(std::filesystem::current_path()), old_path_(read_path()) {
        std::filesystem::current_path(folder);
        SetEnvironmentVariableW(L"PATH", path.c_str());
    }
    ~ScopedSearchPlaces() {
        SetEnvironmentVariableW(L"PATH", old_path_.c_str());
        std::filesystem::current_path(old_folder_);
    }

private:
    static std::wstring read_path() {
        std::wstring value(32768, L'\0');
        value.resize(GetEnvironmentVariableW(L"PATH", value.data(), static_cast<DWORD>(value.size())));
        return value;
    }

    std::filesystem::path old_folder_;
    std::wstring old_path_;
};

void plant(const std::filesystem::path& file) {
    std::filesystem::create_directories(file.parent_path());
    const auto helper = platform::path_from_text(testing::helper_program("echo_args"));
    ASSERT_TRUE(CopyFileW(helper.c_str(), file.c_str(), FALSE)) << GetLastError();
}

// The client runs as administrator, often from a downloads folder: a program
// put there under a tool's name must never be what runs. The plant prints its
// arguments, the real cmd prints "tarvo" and exits with 3.
TEST(RunProcessHiddenWin32, APlantedToolInTheCurrentFolderOrAFolderLaterOnPathIsNotRun) {
    struct Case {
        const char* name;
        const wchar_t* plant_in;  // below the test's folder, which is the current one
        const wchar_t* path;      // %F is the test's folder
    };
    const Case cases[] = {
        {"current folder", L"", L"C:\\windows\\system32"},
        {"current folder, PATH holding relative entries", L"", L".;;sub;C:\\windows\\system32"},
        {"a folder on PATH before the system folder", L"onpath", L"%F\\onpath;C:\\windows\\system32"},
    };
    for (const Case& c : cases) {
        testing::TempFolder folder;
        std::wstring path = c.path;
        if (auto at = path.find(L"%F"); at != std::wstring::npos) path.replace(at, 2, folder.path().native());
        plant(folder.path() / c.plant_in / L"cmd.exe");
        plant(folder.path() / L"sub" / L"cmd.exe");
        ScopedSearchPlaces places(folder.path(), path);

        auto result = run_process_hidden("cmd", {"/c", "echo tarvo& exit 3"});
        ASSERT_TRUE(result) << c.name << ": " << describe(result.error());
        EXPECT_EQ(result->stdout_bytes, "tarvo\r\n") << c.name;
        EXPECT_EQ(result->exit_code, 3) << c.name;
    }
}

TEST(RunProcessHiddenWin32, AToolOutsideTheSystemFolderIsFoundOnlyInAnAbsolutePathFolder) {
    testing::TempFolder folder;
    plant(folder.path() / L"tarvo-planted-tool.exe");
    plant(folder.path() / L"onpath" / L"tarvo-path-tool.exe");
    ScopedSearchPlaces places(folder.path(), L".;;" + (folder.path() / L"onpath").native());

    auto on_path = run_process_hidden("tarvo-path-tool", {"a b", "it's"});
    ASSERT_TRUE(on_path) << describe(on_path.error());
    EXPECT_EQ(on_path->stdout_bytes, testing::json_array({"a b", "it's"}));

    auto in_current_folder = run_process_hidden("tarvo-planted-tool", {});
    ASSERT_FALSE(in_current_folder);
    EXPECT_TRUE(describe(in_current_folder.error()).ends_with(" (os error 2)"));
}

// The program's own folder comes first in Windows' own search.
TEST(RunProcessHiddenWin32, APlantedToolInTheProgramsOwnFolderIsNotRun) {
    const auto self = platform::own_executable_path();
    ASSERT_TRUE(self);
    const auto planted = self->parent_path() / L"tarvo-own-folder-tool.exe";
    plant(planted);
    auto result = run_process_hidden("tarvo-own-folder-tool", {});
    std::error_code ignored;
    std::filesystem::remove(planted, ignored);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, 2);
}

}  // namespace
}  // namespace tarvo::platform
