#include "drivers/embedded_files.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

struct ExtractFixture : ::testing::Test {
    TempFolder root;
    std::filesystem::path data = root.path() / "TARVO";
    std::filesystem::path driver = data / "driver";
    std::vector<EmbeddedFile> files{
        {data, "wireguard.dll", "WG-LIBRARY"},
        {data, "wintun.dll", "WINTUN"},
        {driver, "tapinstall.exe", "INSTALLER"},
        {driver, "tap0901.sys", "DRIVER-SYS"},
    };

    Status<std::string> extract() { return extract_embedded_files({data, driver}, files); }

    void expect_all_written() {
        for (const auto& f : files) EXPECT_EQ(read_bytes(f.folder / std::string(f.name)), f.bytes) << f.name;
    }
};

TEST_F(ExtractFixture, AFreshMachineGetsBothFoldersAndEveryFile) {
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, ASecondCallWithNothingChangedWritesNothing) {
    ASSERT_TRUE(extract().has_value());
    // Same size, other content: only the size is compared, so it stays.
    write_bytes(data / "wintun.dll", "wintun");
    ASSERT_TRUE(extract().has_value());
    EXPECT_EQ(read_bytes(data / "wintun.dll"), "wintun");
}

TEST_F(ExtractFixture, AFileOfAnotherSizeIsRewritten) {
    ASSERT_TRUE(extract().has_value());
    write_bytes(driver / "tap0901.sys", "");
    write_bytes(data / "wireguard.dll", "WG-LIBRARY-AND-MORE");
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, AFileThatCannotBeWrittenIsSkippedAndTheRestWritten) {
    write_bytes(data / "wintun.dll" / "blocker", "x");  // a non-empty folder holds the name
    ASSERT_TRUE(extract().has_value());
    EXPECT_EQ(read_bytes(data / "wireguard.dll"), "WG-LIBRARY");
    EXPECT_EQ(read_bytes(driver / "tap0901.sys"), "DRIVER-SYS");
    EXPECT_TRUE(std::filesystem::is_directory(data / "wintun.dll"));
}

TEST_F(ExtractFixture, AFileInPlaceOfTheFolderIsReportedAndNothingWritten) {
    write_bytes(data, "not a folder");
    const auto result = extract();
    ASSERT_FALSE(result.has_value());
    const std::string prefix = "Błąd tworzenia " + platform::path_text(data) + ": ";
    EXPECT_EQ(result.error().rfind(prefix, 0), 0u) << result.error();
    EXPECT_NE(result.error().find(" (os error "), std::string::npos) << result.error();
    EXPECT_EQ(result.error().back(), ')');
    EXPECT_EQ(read_bytes(data), "not a folder");
}

TEST_F(ExtractFixture, AFileInPlaceOfTheDriverFolderNamesThatFolder) {
    write_bytes(driver, "not a folder");
    const auto result = extract();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().rfind("Błąd tworzenia " + platform::path_text(driver) + ": ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(data / "wireguard.dll"));
}

TEST(WireguardDllPath, IsTheLibraryInTheProgramDataFolder) {
    EXPECT_EQ(wireguard_dll_path(), platform::host_path("C:\\ProgramData\\TARVO") / "wireguard.dll");
}

}  // namespace
}  // namespace tarvo
