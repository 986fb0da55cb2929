// The POSIX admin-only folder: owner and mode read back, links at a file's
// own name, and loads that go through the held file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/admin_folder.h"
#include "platform/library.h"
#include "support/temp_folder.h"

namespace tarvo::platform {
namespace {

namespace fs = std::filesystem;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

struct stat stat_of(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

void expect_admin_only(const fs::path& folder) {
    const struct stat info = stat_of(folder);
    EXPECT_TRUE(S_ISDIR(info.st_mode)) << folder;
    EXPECT_EQ(info.st_mode & 07777, 0755u) << folder;
    EXPECT_EQ(info.st_uid, ::geteuid()) << folder;
}

TEST(MakeAdminOnlyFolderPosix, IsMade0755WhateverTheUmask) {
    TempFolder folder;
    const mode_t old_umask = ::umask(077);
    const auto made = make_admin_only_folder(folder.path() / "TARVO");
    ::umask(old_umask);
    ASSERT_TRUE(made.has_value()) << describe(made.error());
    EXPECT_EQ(*made, FolderSecurity::made);
    expect_admin_only(folder.path() / "TARVO");
}

TEST(MakeAdminOnlyFolderPosix, AnExistingFolderIsKeptOrBroughtToItsRules) {
    TempFolder folder;
    const auto data = folder.path() / "TARVO";
    fs::create_directories(data);
    struct Case {
        mode_t mode;
        FolderSecurity outcome;
    };
    for (const Case& c : {Case{0755, FolderSecurity::kept}, Case{0777, FolderSecurity::resecured},
                          Case{0775, FolderSecurity::resecured}, Case{01777, FolderSecurity::resecured},
                          Case{0700, FolderSecurity::resecured}}) {
        ASSERT_EQ(::chmod(data.c_str(), c.mode), 0);
        const auto secured = make_admin_only_folder(data);
        ASSERT_TRUE(secured.has_value()) << describe(secured.error());
        EXPECT_EQ(*secured, c.outcome) << std::oct << c.mode;
        expect_admin_only(data);
    }
}

TEST(MakeAdminOnlyFolderPosix, AFolderAnotherUserMadeIsTakenOver) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
    TempFolder folder;
    const auto data = folder.path() / "TARVO";
    fs::create_directories(data);
    ASSERT_EQ(::chown(data.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(data.c_str(), 0755), 0);
    const auto secured = make_admin_only_folder(data);
    ASSERT_TRUE(secured.has_value()) << describe(secured.error());
    EXPECT_EQ(*secured, FolderSecurity::resecured);
    expect_admin_only(data);
}

TEST(MakeAdminOnlyFolderPosix, ALinkInItsPlaceIsRemovedNotFollowed) {
    TempFolder folder;
    const auto outside = folder.path() / "outside";
    write_bytes(outside / "keep", "x");
    ::chmod(outside.c_str(), 0700);
    fs::create_directory_symlink(outside, folder.path() / "TARVO");
    const auto made = make_admin_only_folder(folder.path() / "TARVO");
    ASSERT_TRUE(made.has_value()) << describe(made.error());
    EXPECT_EQ(*made, FolderSecurity::made);
    expect_admin_only(folder.path() / "TARVO");
    EXPECT_EQ(stat_of(outside).st_mode & 07777, 0700u);
    EXPECT_EQ(read_bytes(outside / "keep"), "x");
}

TEST(WriteFileIfDiffersPosix, ALinkAtTheNameIsReplacedNotWrittenThrough) {
    TempFolder folder;
    write_bytes(folder.path() / "hosts", "someone else's");
    fs::create_symlink(folder.path() / "hosts", folder.path() / "wireguard.dll");
    const auto written = write_file_if_differs(folder.path() / "wireguard.dll", "LIBRARY", false);
    ASSERT_TRUE(written.has_value()) << describe(written.error());
    EXPECT_EQ(*written, FileWrite::written);
    EXPECT_FALSE(fs::is_symlink(folder.path() / "wireguard.dll"));
    EXPECT_EQ(read_bytes(folder.path() / "wireguard.dll"), "LIBRARY");
    EXPECT_EQ(read_bytes(folder.path() / "hosts"), "someone else's");
}

TEST(WriteFileIfDiffersPosix, AFifoAtTheNameIsReplacedWithoutWaitingForAWriter) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo((folder.path() / "wintun.dll").c_str(), 0666), 0);
    const auto written = write_file_if_differs(folder.path() / "wintun.dll", "WINTUN", false);
    ASSERT_TRUE(written.has_value()) << describe(written.error());
    EXPECT_EQ(read_bytes(folder.path() / "wintun.dll"), "WINTUN");
}

TEST(WriteFileIfDiffersPosix, WritesTheRunBitsOfAProgramAndNoneElse) {
    TempFolder folder;
    const mode_t old_umask = ::umask(077);
    ASSERT_TRUE(write_file_if_differs(folder.path() / "tapinstall.exe", "INSTALLER", true).has_value());
    ASSERT_TRUE(write_file_if_differs(folder.path() / "OemVista.inf", "INF", false).has_value());
    ::umask(old_umask);
    EXPECT_EQ(stat_of(folder.path() / "tapinstall.exe").st_mode & 07777, 0755u);
    EXPECT_EQ(stat_of(folder.path() / "OemVista.inf").st_mode & 07777, 0644u);
}

TEST(HoldFileWithContentPosix, ALinkOrAHardLinkIsNotHeld) {
    TempFolder folder;
    write_bytes(folder.path() / "real.dll", "LIBRARY");
    fs::create_symlink(folder.path() / "real.dll", folder.path() / "link.dll");
    const auto linked = hold_file_with_content(folder.path() / "link.dll", "LIBRARY");
    ASSERT_FALSE(linked.has_value());
    EXPECT_EQ(linked.error().code, ELOOP);
    fs::create_hard_link(folder.path() / "real.dll", folder.path() / "second.dll");
    EXPECT_FALSE(hold_file_with_content(folder.path() / "real.dll", "LIBRARY").has_value());
}

TEST(MakeAdminOnlyEntryPosix, TakesAwayWritesOfOthersAndKeepsRunBits) {
    TempFolder folder;
    const auto program = folder.path() / "TarvoClient.exe";
    write_bytes(program, "program");
    ASSERT_EQ(::chmod(program.c_str(), 06777), 0);
    ASSERT_TRUE(make_admin_only_entry(program).has_value());
    EXPECT_EQ(stat_of(program).st_mode & 07777, 0755u);
    fs::create_symlink(program, folder.path() / "link");
    EXPECT_FALSE(make_admin_only_entry(folder.path() / "link").has_value());
}

// Swapping the file after the check changes nothing: the load goes through
// the file that was held.
TEST(LoadHeldLibrary, LoadsTheHeldFileNotWhatThePathNamesByNow) {
    TempFolder folder;
    const fs::path libm = "/lib/x86_64-linux-gnu/libm.so.6";
    const fs::path libz = "/lib/x86_64-linux-gnu/libz.so.1";
    if (!fs::exists(libm) || !fs::exists(libz)) GTEST_SKIP() << "libm or libz not where expected";
    const auto library = folder.path() / "wireguard.dll";
    const std::string verified = read_bytes(libm);
    write_bytes(library, verified);
    auto held = hold_file_with_content(library, verified);
    ASSERT_TRUE(held.has_value()) << describe(held.error());

    write_bytes(folder.path() / "swapped", read_bytes(libz));
    fs::rename(folder.path() / "swapped", library);

    const auto loaded = load_held_library(*held, library);
    ASSERT_TRUE(loaded.has_value()) << describe(loaded.error());
    EXPECT_NE(library_symbol(*loaded, "cos"), nullptr);
    EXPECT_EQ(library_symbol(*loaded, "inflate"), nullptr);
}

}  // namespace
}  // namespace tarvo::platform
