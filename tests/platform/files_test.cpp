#include "platform/files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/paths.h"

namespace tarvo::platform {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("tarvo-files-" +
                 std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    static void write(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    static std::string read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path root_;
};

TEST_F(FilesTest, TellsOneFileFromTwoFilesOfTheSameSize) {
    const fs::path a = root_ / "a.exe";
    const fs::path b = root_ / "b.exe";
    write(a, "same size");
    write(b, "same size");
    EXPECT_TRUE(is_same_file(a, a));
    EXPECT_TRUE(is_same_file(a, root_ / "." / "a.exe"));
    EXPECT_FALSE(is_same_file(a, b));
    EXPECT_FALSE(is_same_file(a, root_ / "missing.exe"));

    std::error_code ec;
    fs::create_hard_link(a, root_ / "link.exe", ec);
    if (!ec) {
        EXPECT_TRUE(is_same_file(a, root_ / "link.exe"));
    }
}

TEST_F(FilesTest, CreatesEveryMissingFolderAndAcceptsExistingOnes) {
    const fs::path deep = root_ / "a" / "b" / "c";
    ASSERT_TRUE(platform::create_directories(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(platform::create_directories(deep));
    EXPECT_TRUE(platform::create_directories(root_ / "a"));
}

TEST_F(FilesTest, AFileInTheWayIsTheSystemsError) {
    write(root_ / "TARVO", "not a folder");
    for (const fs::path& folder : {root_ / "TARVO", root_ / "TARVO" / "driver"}) {
        auto made = platform::create_directories(folder);
        ASSERT_FALSE(made) << path_text(folder);
        EXPECT_NE(made.error().code, 0);
        EXPECT_FALSE(made.error().message.empty());
    }
    EXPECT_EQ(read(root_ / "TARVO"), "not a folder");
}

TEST_F(FilesTest, ReplaceFileMovesOverAnExistingFile) {
    write(root_ / "client.json.tmp", "new");
    write(root_ / "client.json", "old");
    ASSERT_TRUE(replace_file(root_ / "client.json.tmp", root_ / "client.json"));
    EXPECT_EQ(read(root_ / "client.json"), "new");
    EXPECT_FALSE(fs::exists(root_ / "client.json.tmp"));

    auto missing = replace_file(root_ / "absent", root_ / "client.json");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, 2);
    EXPECT_EQ(read(root_ / "client.json"), "new");
}

}  // namespace
}  // namespace tarvo::platform
