#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/library.h"
#include "support/temp_folder.h"

namespace tarvo::platform {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

TEST(CreateDirectories, MakesEveryParentAndAcceptsAnExistingFolder) {
    TempFolder folder;
    const auto deep = folder.path() / "a" / "b" / "c";
    EXPECT_TRUE(platform::create_directories(deep).has_value());
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_TRUE(platform::create_directories(deep).has_value());
}

TEST(CreateDirectories, AFileInTheWayIsAnError) {
    TempFolder folder;
    write_bytes(folder.path() / "file", "x");
    for (const auto& target : {folder.path() / "file", folder.path() / "file" / "below"}) {
        const auto made = platform::create_directories(target);
        ASSERT_FALSE(made.has_value()) << target;
        EXPECT_NE(made.error().code, 0);
        EXPECT_FALSE(made.error().message.empty());
    }
}

TEST(ReplaceFile, MovesOverAnExistingFile) {
    TempFolder folder;
    write_bytes(folder.path() / "new", "new");
    write_bytes(folder.path() / "old", "old");
    ASSERT_TRUE(replace_file(folder.path() / "new", folder.path() / "old").has_value());
    EXPECT_EQ(read_bytes(folder.path() / "old"), "new");
    EXPECT_FALSE(std::filesystem::exists(folder.path() / "new"));
    const auto missing = replace_file(folder.path() / "absent", folder.path() / "old");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().code, 2);
}

TEST(MakeExecutable, SetsTheRunBitsWhereReadable) {
    TempFolder folder;
    const auto file = folder.path() / "tool";
    write_bytes(file, "#!/bin/sh\n");
    ::chmod(file.c_str(), 0640);
    ASSERT_TRUE(make_executable(file).has_value());
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);
    EXPECT_FALSE(make_executable(folder.path() / "absent").has_value());
}

TEST(LoadLibrary, LoadsByPathAndFindsEntryPoints) {
    const auto libc = load_library("/lib/x86_64-linux-gnu/libc.so.6");
    ASSERT_TRUE(libc.has_value()) << describe(libc.error());
    EXPECT_NE(library_symbol(*libc, "strlen"), nullptr);
    EXPECT_EQ(library_symbol(*libc, "TarvoNoSuchEntryPoint"), nullptr);
}

TEST(LoadLibrary, AMissingOrBrokenFileIsAnError) {
    TempFolder folder;
    const auto missing = load_library(folder.path() / "wireguard.dll");
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().code, 2);
    write_bytes(folder.path() / "broken.dll", "not a library");
    const auto broken = load_library(folder.path() / "broken.dll");
    ASSERT_FALSE(broken.has_value());
    EXPECT_FALSE(broken.error().message.empty());
}

}  // namespace
}  // namespace tarvo::platform
