// The admin-only folder's file operations, on this platform's file system
// (under Wine for the Windows build).
#include "platform/admin_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "platform/paths.h"
#include "support/folder_link.h"
#include "support/temp_folder.h"

namespace tarvo::platform {
namespace {

namespace fs = std::filesystem;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

TEST(WriteFileIfDiffers, WritesOnlyWhatIsMissingOrDiffers) {
    TempFolder folder;
    const auto file = folder.path() / "wireguard.dll";
    struct Step {
        const char* before;  // nullptr: no file
        FileWrite outcome;
    };
    for (const Step& step : {Step{nullptr, FileWrite::written}, Step{"LIBRARY", FileWrite::unchanged},
                             Step{"LIBRARZ", FileWrite::written}, Step{"LIB", FileWrite::written},
                             Step{"LIBRARY AND MORE", FileWrite::written}, Step{"", FileWrite::written}}) {
        fs::remove(file);
        if (step.before) write_bytes(file, step.before);
        const auto written = write_file_if_differs(file, "LIBRARY", false);
        ASSERT_TRUE(written.has_value()) << describe(written.error());
        EXPECT_EQ(*written, step.outcome) << (step.before ? step.before : "(none)");
        EXPECT_EQ(read_bytes(file), "LIBRARY");
    }
}

TEST(WriteFileIfDiffers, AnEmptyFolderInTheWayIsReplacedOneWithSomethingInItIsAnError) {
    TempFolder folder;
    const auto file = folder.path() / "wintun.dll";
    fs::create_directories(file);
    ASSERT_TRUE(write_file_if_differs(file, "WINTUN", false).has_value());
    EXPECT_EQ(read_bytes(file), "WINTUN");

    fs::remove(file);
    write_bytes(file / "inside", "x");
    const auto written = write_file_if_differs(file, "WINTUN", false);
    ASSERT_FALSE(written.has_value());
    EXPECT_NE(written.error().code, 0);
    EXPECT_EQ(read_bytes(file / "inside"), "x");
}

TEST(WriteFileIfDiffers, AHardLinkIsReplacedByAFileOfItsOwn) {
    TempFolder folder;
    write_bytes(folder.path() / "elsewhere", "LIBRARY");
    std::error_code ec;
    fs::create_hard_link(folder.path() / "elsewhere", folder.path() / "wireguard.dll", ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
    const auto written = write_file_if_differs(folder.path() / "wireguard.dll", "LIBRARY", false);
    ASSERT_TRUE(written.has_value()) << describe(written.error());
    EXPECT_EQ(*written, FileWrite::written);
    write_bytes(folder.path() / "elsewhere", "CHANGED");
    EXPECT_EQ(read_bytes(folder.path() / "wireguard.dll"), "LIBRARY");
}

// Writing, holding and listing never go through a folder link.
TEST(AdminFolderLinks, AFolderLinkIsNeverFollowed) {
    TempFolder folder;
    const auto outside = folder.path() / "outside";
    write_bytes(outside / "tapinstall.exe", "SOMEONE ELSE'S");
    const auto data = folder.path() / "TARVO";
    fs::create_directories(data);
    const auto driver = data / "driver";
    testing::FolderLink link_to_outside(driver, outside);
    if (!link_to_outside.made()) GTEST_SKIP() << "cannot make a folder link here";

    EXPECT_FALSE(write_file_if_differs(driver / "tapinstall.exe", "INSTALLER", true).has_value());
    EXPECT_FALSE(write_file_if_differs(driver / "OemVista.inf", "INF", false).has_value());
    EXPECT_FALSE(hold_file_with_content(driver / "tapinstall.exe", "SOMEONE ELSE'S").has_value());
    EXPECT_EQ(read_bytes(outside / "tapinstall.exe"), "SOMEONE ELSE'S");
    EXPECT_FALSE(fs::exists(outside / "OemVista.inf"));

    const auto entries = list_folder_entries(data);
    ASSERT_TRUE(entries.has_value()) << describe(entries.error());
    const auto link = std::ranges::find(*entries, fs::path("driver"), &FolderEntry::name);
    ASSERT_NE(link, entries->end());
    EXPECT_EQ(link->kind, FolderEntry::Kind::other);
}

TEST(ListFolderEntries, TellsFilesOfTheirOwnFromFoldersAndEverythingElse) {
    TempFolder folder;
    write_bytes(folder.path() / "wireguard.dll", "x");
    write_bytes(folder.path() / "driver" / "tap0901.sys", "x");
    write_bytes(folder.path() / "linked", "x");
    std::error_code ec;
    fs::create_hard_link(folder.path() / "linked", folder.path() / "second-name", ec);
    const auto entries = list_folder_entries(folder.path());
    ASSERT_TRUE(entries.has_value()) << describe(entries.error());
    const auto kind = [&](const char* name) {
        const auto found = std::ranges::find(*entries, fs::path(name), &FolderEntry::name);
        return found == entries->end() ? std::optional<FolderEntry::Kind>() : found->kind;
    };
    EXPECT_EQ(entries->size(), ec ? 3u : 4u);
    EXPECT_EQ(kind("wireguard.dll"), FolderEntry::Kind::file);
    EXPECT_EQ(kind("driver"), FolderEntry::Kind::folder);
    if (!ec) {
        EXPECT_EQ(kind("linked"), FolderEntry::Kind::other);
        EXPECT_EQ(kind("second-name"), FolderEntry::Kind::other);
    }
}

TEST(RemoveEntry, RemovesAFolderWithEverythingInIt) {
    TempFolder folder;
    write_bytes(folder.path() / "planted" / "deeper" / "CRYPT32.dll", "x");
    write_bytes(folder.path() / "planted" / "dwmapi.dll", "x");
    const auto removed = remove_entry(folder.path() / "planted");
    ASSERT_TRUE(removed.has_value()) << describe(removed.error());
    EXPECT_FALSE(fs::exists(folder.path() / "planted"));
    EXPECT_FALSE(remove_entry(folder.path() / "absent").has_value());
}

TEST(MakeAdminOnlyFolder, MakesAMissingFolderAndItsParents) {
    TempFolder folder;
    const auto data = folder.path() / "ProgramData" / "TARVO";
    const auto made = make_admin_only_folder(data);
    ASSERT_TRUE(made.has_value()) << describe(made.error());
    EXPECT_EQ(*made, FolderSecurity::made);
    EXPECT_TRUE(fs::is_directory(data));
}

TEST(MakeAdminOnlyFolder, AFileInItsPlaceIsAnErrorAndStays) {
    TempFolder folder;
    write_bytes(folder.path() / "TARVO", "not a folder");
    const auto made = make_admin_only_folder(folder.path() / "TARVO");
    ASSERT_FALSE(made.has_value());
    EXPECT_NE(made.error().code, 0);
    EXPECT_EQ(read_bytes(folder.path() / "TARVO"), "not a folder");
}

TEST(HoldFileWithContent, HoldsOnlyAFileOfItsOwnWithExactlyTheBytes) {
    TempFolder folder;
    const auto file = folder.path() / "tap0901.sys";
    write_bytes(file, "DRIVER");
    EXPECT_TRUE(hold_file_with_content(file, "DRIVER").has_value());
    for (const char* other : {"DRIVEN", "DRIVE", "DRIVERS", ""}) {
        const auto held = hold_file_with_content(file, other);
        ASSERT_FALSE(held.has_value()) << other;
        EXPECT_FALSE(held.error().message.empty());
    }
    EXPECT_FALSE(hold_file_with_content(folder.path() / "absent", "").has_value());
    fs::create_directories(folder.path() / "folder");
    EXPECT_FALSE(hold_file_with_content(folder.path() / "folder", "").has_value());
}

}  // namespace
}  // namespace tarvo::platform
