#include "main/self_install.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/paths.h"
#include "support/powershell_literals.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

struct InstallFixture : ::testing::Test {
    TempFolder folder;
    InstallLocations where{folder.path() / "ProgramData" / "TARVO"};
    std::filesystem::path running = folder.path() / "Downloads" / "TarvoClient.exe";

    void SetUp() override {
        std::filesystem::create_directories(where.program_data);
        write_bytes(running, "new program");
    }
};

TEST_F(InstallFixture, CopiesTheRunningProgramAndDeletesTheOldCopy) {
    write_bytes(where.program_copy(), "older program, longer");
    write_bytes(where.old_copy(), "oldest");

    install_program_copy(running, where);

    EXPECT_EQ(read_bytes(where.program_copy()), "new program");
    EXPECT_FALSE(std::filesystem::exists(where.old_copy()));
}

TEST_F(InstallFixture, RunningTheInstalledCopyTouchesNothing) {
    write_bytes(where.program_copy(), "installed");
    write_bytes(where.old_copy(), "oldest");

    install_program_copy(where.program_data / "." / "TarvoClient.exe", where);

    EXPECT_EQ(read_bytes(where.program_copy()), "installed");
    EXPECT_EQ(read_bytes(where.old_copy()), "oldest");
}

TEST_F(InstallFixture, TheInstalledCopyUnderAnotherNameIsLeftInPlace) {
    write_bytes(where.program_copy(), "installed");
    const auto link = folder.path() / "Desktop" / "TarvoClient.exe";
    std::filesystem::create_directories(link.parent_path());
    std::error_code ec;
    std::filesystem::create_hard_link(where.program_copy(), link, ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();

    install_program_copy(link, where);

    EXPECT_EQ(read_bytes(where.program_copy()), "installed");
    EXPECT_FALSE(std::filesystem::exists(where.old_copy()));
}

TEST_F(InstallFixture, ACopyThatCannotBeReplacedIsMovedAsideFirst) {
    // A folder in place of the installed copy refuses to be overwritten, like a
    // running program file, but can be moved.
    write_bytes(where.program_copy() / "in-use", "busy");

    install_program_copy(running, where);

    EXPECT_EQ(read_bytes(where.program_copy()), "new program");
    EXPECT_EQ(read_bytes(where.old_copy() / "in-use"), "busy");
}

TEST_F(InstallFixture, AMissingProgramFileInstallsNothing) {
    install_program_copy(folder.path() / "gone.exe", where);
    EXPECT_FALSE(std::filesystem::exists(where.program_copy()));
}

TEST(ShortcutScript, IsTheOneLinePowerShellScript) {
    EXPECT_EQ(
        shortcut_script("C:\\A\\T.exe", "C:\\ProgramData\\TARVO"),
        "$d = [Environment]::GetFolderPath('Desktop'); if ($d) { $lnk = Join-Path $d 'Tarvo Client.lnk'; "
        "$ws = New-Object -ComObject WScript.Shell; $sc = $ws.CreateShortcut($lnk); "
        "$sc.TargetPath = 'C:\\A\\T.exe'; $sc.WorkingDirectory = 'C:\\ProgramData\\TARVO'; "
        "$sc.IconLocation = 'C:\\A\\T.exe,0'; $sc.Description = 'Tarvo Enterprise Client (C++ Native "
        "L2/L3)'; "
        "$sc.Save() }");
}

TEST_F(InstallFixture, ShortcutPointsAtTheInstalledCopyWhenItExists) {
    const auto quoted = [](const std::filesystem::path& p) { return "'" + platform::path_text(p) + "'"; };
    EXPECT_NE(shortcut_script_for(running, where).find("TargetPath = " + quoted(running)), std::string::npos);
    write_bytes(where.program_copy(), "installed");
    EXPECT_NE(shortcut_script_for(running, where).find("TargetPath = " + quoted(where.program_copy())),
              std::string::npos);
}

// A program started from a folder whose name closes PowerShell's string with
// any of its five quote characters, and whose copy into the program-data
// folder failed: the script still names it in whole literals and runs
// nothing of the name.
TEST_F(InstallFixture, EveryQuoteCharacterInThePathStaysInsideTheScriptsLiterals) {
    for (const char* quote : {"'", "\u2018", "\u2019", "\u201A", "\u201B"}) {
        const std::string q(quote);
        const auto odd = folder.path() / "Users" / "Public" / platform::path_from_text("x" + q + ";Start-Process cmd;" + q) /
                         "TarvoClient.exe";
        write_bytes(odd, "x");
        ASSERT_FALSE(std::filesystem::exists(where.program_copy()));

        const auto reading = testing::read_powershell_literals(shortcut_script_for(odd, where));

        EXPECT_FALSE(reading.unterminated) << q;
        EXPECT_EQ(reading.code.find("Start-Process"), std::string::npos) << q << ": " << reading.code;
        const auto count = [&](const std::string& value) {
            return std::count(reading.literals.begin(), reading.literals.end(), value);
        };
        const std::string target = platform::path_text(odd);
        EXPECT_EQ(count(target), 1) << q;
        EXPECT_EQ(count(target + ",0"), 1) << q;
        EXPECT_EQ(count(platform::path_text(where.program_data)), 1) << q;
    }
}

}  // namespace
}  // namespace tarvo
