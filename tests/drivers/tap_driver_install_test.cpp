// The driver installation over a recording double of what it works on: an
// installer that was started is never taken for one that could not be,
// whatever reading its output or exit status did afterwards.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "drivers/tap_driver.h"

namespace tarvo {
namespace {

using ::testing::ElementsAre;

const std::string kGuid = "{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}";

class RecordingTapDriver final : public TapDriverSystem {
public:
    std::deque<std::optional<std::string>> searches;  // what each search finds, in turn
    Expected<platform::ProcessOutput, platform::OsError> installer = platform::ProcessOutput{};
    std::vector<std::string> calls;

    void extract_embedded_files() override { calls.push_back("extract"); }
    std::optional<std::string> find_tap_adapter() override {
        calls.push_back("find");
        if (searches.empty()) return std::nullopt;
        auto found = searches.front();
        searches.pop_front();
        return found;
    }
    Expected<platform::ProcessOutput, platform::OsError> run_installer(
        const std::string& program, const std::vector<std::string>& args,
        const std::filesystem::path&) override {
        // File names only: the folder is the host's.
        const auto file_name = [](const std::string& path) { return path.substr(path.find_last_of("\\/") + 1); };
        std::string call = "install ";
        call += file_name(program);
        for (const auto& arg : args) {
            call += ' ';
            call += file_name(arg);
        }
        calls.push_back(call);
        return installer;
    }
    void reset_tap_adapter() override { calls.push_back("reset"); }
};

const platform::OsError kPipeFailure{232, "The pipe is being closed"};

platform::ProcessOutput ran_but_unread(bool exit_code_read) {
    platform::ProcessOutput output{exit_code_read ? 0 : -1, "Device node created.", "", kPipeFailure,
                                   exit_code_read};
    return output;
}

TEST(EnsureTapDriverInstall, AnInstallerWhoseOutputCouldNotBeReadStillLeadsToTheSecondSearch) {
    for (const bool exit_code_read : {true, false}) {
        RecordingTapDriver system;
        system.searches = {std::nullopt, kGuid};
        system.installer = ran_but_unread(exit_code_read);

        const auto result = ensure_tap_driver(system);
        ASSERT_TRUE(result) << result.error();
        EXPECT_EQ(*result, kGuid) << exit_code_read;
        EXPECT_THAT(system.calls,
                    ElementsAre("extract", "find", "install tapinstall.exe install OemVista.inf tap0901", "find",
                                "reset"));
    }
}

TEST(EnsureTapDriverInstall, ARunWithoutAnAdapterAfterwardsIsTheInstallFailureWithWhatWasRead) {
    RecordingTapDriver system;
    system.installer = ran_but_unread(false);
    const auto result = ensure_tap_driver(system);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "Instalacja sterownika TAP-Windows nie powiodła się: Device node created.");
    EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "find"), 2);
}

TEST(EnsureTapDriverInstall, OnlyAnInstallerThatCouldNotBeStartedEndsWithoutTheSecondSearch) {
    RecordingTapDriver system;
    system.installer = unexpected(platform::OsError{2, "No such file"});
    const auto result = ensure_tap_driver(system);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), "Nie udało się uruchomić tapinstall.exe: No such file (os error 2)");
    EXPECT_EQ(std::count(system.calls.begin(), system.calls.end(), "find"), 1);
}

}  // namespace
}  // namespace tarvo
