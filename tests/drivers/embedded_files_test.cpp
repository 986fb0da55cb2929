#include "drivers/embedded_files.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <chrono>

#include "platform/paths.h"
#include "support/folder_link.h"
#include "support/temp_folder.h"

namespace tarvo {
namespace {

using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

namespace fs = std::filesystem;

// Lets anyone create files in `folder`, as ProgramData's own rules did for a
// folder made in it with default security. On Windows a folder of the test's
// temporary folder has its user's rules already (and under Wine no folder
// ever reads back as admin-only).
void open_to_anyone(const fs::path& folder) {
#ifndef _WIN32
    ::chmod(folder.c_str(), 0777);
#else
    (void)folder;
#endif
}

// Keeps `file` from being replaced while this lives: on Windows it is open
// without delete sharing, as a loaded library is; POSIX replaces any file, so
// there a folder with something in it takes the name.
class InUse {
public:
    explicit InUse(const fs::path& file) : file_(file) {
#ifdef _WIN32
        handle_ = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
#else
        fs::remove(file);
        write_bytes(file / "in-use", "x");
#endif
    }
    ~InUse() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        fs::remove_all(file_);
#endif
    }

private:
    fs::path file_;
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
};

struct ExtractFixture : ::testing::Test {
    TempFolder root;
    fs::path data = root.path() / "TARVO";
    fs::path driver = data / "driver";
    fs::path settings = data / "TARVO";
    OwnFolder layout{data,
                     {"wireguard.dll", "wintun.dll", "TarvoClient.exe"},
                     {{driver, {"tapinstall.exe", "tap0901.sys"}, {}}, {settings, {"client.json"}, {}}}};
    std::vector<EmbeddedFile> files{
        {data, "wireguard.dll", "WG-LIBRARY"},
        {data, "wintun.dll", "WINTUN"},
        {driver, "tapinstall.exe", "INSTALLER"},
        {driver, "tap0901.sys", "DRIVER-SYS"},
    };

    Status<std::string> extract() { return extract_embedded_files({layout, layout.folders.front()}, files); }

    static fs::path target(const EmbeddedFile& f) { return f.folder / std::string(f.name); }

    void expect_all_written() {
        for (const auto& f : files) EXPECT_EQ(read_bytes(target(f)), f.bytes) << f.name;
    }
};

TEST_F(ExtractFixture, AFreshMachineGetsBothFoldersAndEveryFile) {
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, ASecondCallWithNothingChangedWritesNothing) {
    ASSERT_TRUE(extract().has_value());
    std::vector<fs::file_time_type> long_ago;
    for (const auto& f : files) {
        fs::last_write_time(target(f), fs::file_time_type::clock::now() - std::chrono::hours(1000));
        long_ago.push_back(fs::last_write_time(target(f)));  // as the file system keeps it
    }
    ASSERT_TRUE(extract().has_value());
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(fs::last_write_time(target(files[i])), long_ago[i]) << files[i].name;
}

TEST_F(ExtractFixture, AFileOfTheRightSizeButOtherContentIsReplaced) {
    ASSERT_TRUE(extract().has_value());
    for (const auto& f : files) write_bytes(target(f), std::string(f.bytes.size(), '#'));
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, AFileOfAnotherSizeIsRewritten) {
    ASSERT_TRUE(extract().has_value());
    write_bytes(driver / "tap0901.sys", "");
    write_bytes(data / "wireguard.dll", "WG-LIBRARY-AND-MORE");
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, AFileThatDiffersAndCannotBeReplacedFailsTheStepButTheOthersAreWritten) {
    ASSERT_TRUE(extract().has_value());
    write_bytes(data / "wintun.dll", "wintun");
    write_bytes(driver / "tap0901.sys", "");
    {
        InUse in_use(data / "wintun.dll");
        const auto result = extract();
        ASSERT_FALSE(result.has_value());
        const std::string prefix = "Błąd tworzenia " + platform::path_text(data / "wintun.dll") + ": ";
        EXPECT_EQ(result.error().rfind(prefix, 0), 0u) << result.error();
        EXPECT_EQ(result.error().back(), ')') << result.error();
        EXPECT_EQ(read_bytes(driver / "tap0901.sys"), "DRIVER-SYS");
    }
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
}

TEST_F(ExtractFixture, AHardLinkedFileGetsAFileOfItsOwn) {
    fs::create_directories(driver);
    const fs::path elsewhere = root.path() / "elsewhere.sys";
    write_bytes(elsewhere, "someone else's file");
    std::error_code ec;
    fs::create_hard_link(elsewhere, driver / "tap0901.sys", ec);
    if (ec) GTEST_SKIP() << "no hard links here: " << ec.message();
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
    EXPECT_EQ(read_bytes(elsewhere), "someone else's file");
}

TEST_F(ExtractFixture, AFolderAnyoneCouldWriteIsSecuredAndKeepsOnlyTheClientsOwn) {
    fs::create_directories(driver);
    fs::create_directories(settings);
    open_to_anyone(data);
    open_to_anyone(driver);
    // Planted where the installed copy would load them from.
    write_bytes(data / "dwmapi.dll", "planted");
    write_bytes(data / "xinput1_4.dll", "planted");
    write_bytes(data / "nested" / "CRYPT32.dll", "planted");
    write_bytes(data / "wireguard.dll", std::string(10, '#'));  // the embedded copy's size
    write_bytes(driver / "extra.inf", "planted");
    write_bytes(driver / "tapinstall.exe", "INSTALLER");
    write_bytes(settings / "other.txt", "planted");
    // The client's own: the program copy and the settings.
    write_bytes(data / "TarvoClient.exe", "installed program");
    write_bytes(settings / "client.json", "{}");

    const auto extracted = extract();
    ASSERT_TRUE(extracted.has_value()) << extracted.error();

    for (const auto& planted : {data / "dwmapi.dll", data / "xinput1_4.dll", data / "nested",
                                driver / "extra.inf", settings / "other.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(planted))) << platform::path_text(planted);
    expect_all_written();
    EXPECT_EQ(read_bytes(data / "TarvoClient.exe"), "installed program");
    EXPECT_EQ(read_bytes(settings / "client.json"), "{}");
#ifndef _WIN32
    for (const auto& folder : {data, driver, settings}) {
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0755u) << folder;
        EXPECT_EQ(info.st_uid, ::geteuid()) << folder;
    }
#endif
}

TEST_F(ExtractFixture, ALinkInPlaceOfTheDriverFolderIsNeverFollowed) {
    const fs::path outside = root.path() / "outside";
    fs::create_directories(outside);
    fs::create_directories(data);
    testing::FolderLink link_to_outside(driver, outside);
    if (!link_to_outside.made()) GTEST_SKIP() << "cannot make a folder link here";

    const auto result = extract();

    for (const auto& f : files) EXPECT_FALSE(fs::exists(outside / std::string(f.name))) << f.name;
    if (result) {
        EXPECT_FALSE(fs::is_symlink(driver));
        expect_all_written();
    } else {
        // Wine can neither remove such a link nor see through it: refused.
        EXPECT_EQ(result.error().rfind("Błąd tworzenia ", 0), 0u) << result.error();
    }
#ifndef _WIN32
    EXPECT_TRUE(result.has_value()) << result.error();
#endif
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
#ifdef _WIN32
    // The test's folder is never admin-only here, so it is cleaned first and
    // the file goes as not the client's own.
    ASSERT_TRUE(extract().has_value());
    expect_all_written();
#else
    const auto result = extract();
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().rfind("Błąd tworzenia " + platform::path_text(driver) + ": ", 0), 0u)
        << result.error();
    EXPECT_FALSE(fs::exists(data / "wireguard.dll"));
#endif
}

TEST_F(ExtractFixture, OnlyAFileHoldingTheEmbeddedCopyIsHeldForUse) {
    ASSERT_TRUE(extract().has_value());
    const auto library = data / "wireguard.dll";
    EXPECT_TRUE(platform::hold_file_with_content(library, "WG-LIBRARY").has_value());
    write_bytes(library, "WG-LIBRARZ");
    const auto held = platform::hold_file_with_content(library, "WG-LIBRARY");
    ASSERT_FALSE(held.has_value());
    EXPECT_FALSE(held.error().message.empty());
}

TEST(WireguardDllPath, IsTheLibraryInTheProgramDataFolder) {
    EXPECT_EQ(wireguard_dll_path(), platform::host_path("C:\\ProgramData\\TARVO") / "wireguard.dll");
}

TEST(ProgramDataLayout, KeepsTheLibrariesTheProgramCopiesTheDriverPackageAndTheSettings) {
    const OwnFolder data = program_data_layout();
    EXPECT_EQ(data.path, platform::host_path("C:\\ProgramData\\TARVO"));
    EXPECT_EQ(data.files,
              (std::vector<std::string>{"wireguard.dll", "wintun.dll", "TarvoClient.exe", "TarvoClient.old.exe"}));
    ASSERT_EQ(data.folders.size(), 2u);
    EXPECT_EQ(data.folders[0].path, platform::host_path("C:\\ProgramData\\TARVO\\driver"));
    EXPECT_EQ(data.folders[0].files,
              (std::vector<std::string>{"tapinstall.exe", "OemVista.inf", "tap0901.cat", "tap0901.sys"}));
    EXPECT_EQ(data.folders[1].path, platform::host_path("C:\\ProgramData\\TARVO\\TARVO"));
    EXPECT_EQ(data.folders[1].files, (std::vector<std::string>{"client.json"}));
}

}  // namespace
}  // namespace tarvo
