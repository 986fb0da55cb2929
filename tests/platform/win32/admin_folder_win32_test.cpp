// The Windows side of the admin-only folder and of library loading. Wine keeps
// no owner or access rules (it maps them onto Unix modes), so what reaches
// SetSecurityInfo and CreateDirectoryW, and the loader's flags, are seen
// through recording calls; held files and the loader's search run for real.
#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/admin_folder.h"
#include "platform/library.h"
#include "platform/paths.h"
#include "platform/win32/folder_security.h"
#include "platform/win32/library_loader.h"
#include "support/temp_folder.h"

namespace tarvo::platform::win32 {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using testing::write_bytes;

constexpr const wchar_t* kFolderRules = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr const wchar_t* kFileRules = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

LocalDescriptor from_text(const wchar_t* text) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &descriptor, nullptr))
        << GetLastError();
    return LocalDescriptor(descriptor);
}

// The owner and DACL in SDDL, with the DACL's protection.
std::wstring as_text(PSECURITY_DESCRIPTOR descriptor) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"(none)";
    std::wstring copy(text);
    LocalFree(text);
    return copy;
}

std::wstring as_text(PSID owner, PACL dacl, bool protect) {
    SECURITY_DESCRIPTOR descriptor{};
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, owner, FALSE);
    SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE);
    if (protect) SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    return as_text(&descriptor);
}

TEST(AdminOnlyRules, AreAdministratorsOwnedProtectedAndReadOnlyForUsers) {
    EXPECT_EQ(as_text(admin_only_descriptor(true).get()), as_text(from_text(kFolderRules).get()));
    EXPECT_EQ(as_text(admin_only_descriptor(false).get()), as_text(from_text(kFileRules).get()));
    EXPECT_EQ(as_text(admin_only_descriptor(true).get()).rfind(L"O:BAD:P(", 0), 0u);
}

TEST(AdminOnlyRules, OnlyExactlyTheseRulesCount) {
    struct Case {
        const wchar_t* rules;
        bool folder;
        bool admin_only;
    };
    const Case cases[] = {
        {kFolderRules, true, true},
        {kFileRules, false, true},
        {L"O:BAD:PAI(A;OICI;0x1200a9;;;BU)(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true, true},  // order, auto-inherit
        {kFolderRules, false, false},  // a folder's rules on a file
        {L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true, false},   // not protected
        {L"O:BUD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true, false},  // Users own it
        {L"O:S-1-5-21-1-2-3-1001D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true, false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", true, false},  // Users may write
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;FA;;;WD)", true, false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", true, false},
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIID;0x1200a9;;;BU)", true, false},  // inherited
        {L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(D;OICI;0x1200a9;;;BU)", true, false},    // a deny entry
        {L"O:BA", true, false},  // no DACL: everyone may do everything
    };
    for (const Case& c : cases)
        EXPECT_EQ(is_admin_only(from_text(c.rules).get(), c.folder), c.admin_only) << c.rules;
}

// Records what the folder code hands to the system's security calls; reads
// answer with `current` (a folder's or file's rules as they stand).
struct RecordingSecurity {
    std::wstring current = L"O:S-1-5-21-1-2-3-1001D:(A;OICIID;FA;;;S-1-5-21-1-2-3-1001)(A;OICIID;0x1301bf;;;BU)";
    std::vector<std::wstring> calls;

    SecurityCalls calls_for_test() {
        return {
            [this](const std::wstring& folder, PSECURITY_DESCRIPTOR descriptor) -> DWORD {
                calls.push_back(L"create " + fs::path(folder).filename().wstring() + L" " + as_text(descriptor));
                return CreateDirectoryW(folder.c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
            },
            [this](HANDLE, LocalDescriptor& descriptor) -> DWORD {
                calls.push_back(L"read");
                descriptor = from_text(current.c_str());
                return ERROR_SUCCESS;
            },
            [this](HANDLE, SECURITY_INFORMATION what, PSID owner, PACL dacl) -> DWORD {
                const SECURITY_INFORMATION expected =
                    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
                calls.push_back(std::wstring(what == expected ? L"write owner+dacl+protected " : L"write other ") +
                                as_text(owner, dacl, (what & PROTECTED_DACL_SECURITY_INFORMATION) != 0));
                return ERROR_SUCCESS;
            },
            [this] { calls.push_back(L"privileged"); },
            [this] { calls.push_back(L"unprivileged"); },
        };
    }
};

std::wstring protected_text(const wchar_t* rules) { return as_text(from_text(rules).get()); }

TEST(MakeAdminOnlyFolderWin32, AMissingFolderIsCreatedWithTheRulesFromItsFirstMoment) {
    TempFolder folder;
    RecordingSecurity security;
    const auto made = make_admin_only_folder(folder.path() / "TARVO", security.calls_for_test());
    ASSERT_TRUE(made.has_value()) << describe(made.error());
    EXPECT_EQ(*made, FolderSecurity::made);
    EXPECT_EQ(security.calls, (std::vector<std::wstring>{L"create TARVO " + protected_text(kFolderRules)}));
    EXPECT_TRUE(fs::is_directory(folder.path() / "TARVO"));
}

TEST(MakeAdminOnlyFolderWin32, AFolderWithOtherRulesIsTakenOverAndProtected) {
    TempFolder folder;
    fs::create_directories(folder.path() / "TARVO");
    RecordingSecurity security;
    const auto secured = make_admin_only_folder(folder.path() / "TARVO", security.calls_for_test());
    ASSERT_TRUE(secured.has_value()) << describe(secured.error());
    EXPECT_EQ(*secured, FolderSecurity::resecured);
    EXPECT_EQ(security.calls,
              (std::vector<std::wstring>{L"read", L"privileged",
                                         L"write owner+dacl+protected " + protected_text(kFolderRules),
                                         L"unprivileged"}));
}

TEST(MakeAdminOnlyFolderWin32, AnAdminOnlyFolderIsLeftAsItIs) {
    TempFolder folder;
    fs::create_directories(folder.path() / "TARVO");
    RecordingSecurity security;
    security.current = kFolderRules;
    const auto secured = make_admin_only_folder(folder.path() / "TARVO", security.calls_for_test());
    ASSERT_TRUE(secured.has_value()) << describe(secured.error());
    EXPECT_EQ(*secured, FolderSecurity::kept);
    EXPECT_EQ(security.calls, (std::vector<std::wstring>{L"read"}));
}

TEST(MakeAdminOnlyEntryWin32, AKeptFileGetsTheFileRules) {
    TempFolder folder;
    write_bytes(folder.path() / "TarvoClient.exe", "program");
    RecordingSecurity security;
    ASSERT_TRUE(make_admin_only_entry(folder.path() / "TarvoClient.exe", security.calls_for_test()).has_value());
    EXPECT_EQ(security.calls,
              (std::vector<std::wstring>{L"read", L"privileged",
                                         L"write owner+dacl+protected " + protected_text(kFileRules),
                                         L"unprivileged"}));
}

TEST(HeldFileWin32, CannotBeChangedMovedOrDeletedWhileHeldButCanBeRead) {
    TempFolder folder;
    const auto file = folder.path() / "wireguard.dll";
    write_bytes(file, "LIBRARY");
    write_bytes(folder.path() / "other", "OTHER");
    {
        auto held = hold_file_with_content(file, "LIBRARY");
        ASSERT_TRUE(held.has_value()) << describe(held.error());
        EXPECT_FALSE(DeleteFileW(file.c_str()));
        EXPECT_FALSE(MoveFileExW(file.c_str(), (folder.path() / "moved").c_str(), 0));
        EXPECT_FALSE(MoveFileExW((folder.path() / "other").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
        HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        HANDLE reader = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE) << GetLastError();
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    }
    EXPECT_TRUE(DeleteFileW(file.c_str())) << GetLastError();
}

// Records the loader calls with their flags.
struct RecordingLoader {
    std::vector<std::wstring> calls;
    LoaderCalls calls_for_test() {
        return {
            [this](DWORD flags) {
                calls.push_back(L"SetDefaultDllDirectories " + std::to_wstring(flags));
                return TRUE;
            },
            [this](const wchar_t* path, DWORD flags) -> HMODULE {
                calls.push_back(L"LoadLibraryExW " + std::wstring(path) + L" " + std::to_wstring(flags));
                return GetModuleHandleW(nullptr);
            },
        };
    }
};

TEST(LibraryLoaderWin32, RestrictsTheSearchToSystem32BeforeTheFirstLoad) {
    RecordingLoader recording;
    LibraryLoader loader(recording.calls_for_test());
    ASSERT_TRUE(loader.load(L"C:\\ProgramData\\TARVO\\wireguard.dll").has_value());
    ASSERT_TRUE(loader.load(L"C:\\ProgramData\\TARVO\\wireguard.dll").has_value());
    loader.restrict_search();
    const std::wstring load = L"LoadLibraryExW C:\\ProgramData\\TARVO\\wireguard.dll " +
                              std::to_wstring(LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    EXPECT_EQ(recording.calls,
              (std::vector<std::wstring>{L"SetDefaultDllDirectories " + std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32),
                                         load, load}));
}

TEST(LibraryLoaderWin32, ARestrictionFirstIsNotRepeatedByTheLoad) {
    RecordingLoader recording;
    LibraryLoader loader(recording.calls_for_test());
    loader.restrict_search();
    ASSERT_TRUE(loader.load(L"C:\\ProgramData\\TARVO\\wireguard.dll").has_value());
    ASSERT_EQ(recording.calls.size(), 2u);
    EXPECT_EQ(recording.calls[0], L"SetDefaultDllDirectories " + std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32));
}

fs::path test_folder() { return own_executable_path().value().parent_path(); }

// tarvo_probe.dll imports tarvo_probe_dep.dll, which lies beside this test
// program: a load by full path finds it beside the library or nowhere.
TEST(LoadLibraryWin32, ALibrarysDependenciesComeFromBesideItNotFromTheProgramsFolder) {
    TempFolder folder;
    fs::copy_file(test_folder() / "tarvo_probe.dll", folder.path() / "tarvo_probe.dll");
    const auto alone = load_library(folder.path() / "tarvo_probe.dll");
    EXPECT_FALSE(alone.has_value()) << "its dependency came from the program's folder";

    fs::copy_file(test_folder() / "tarvo_probe_dep.dll", folder.path() / "tarvo_probe_dep.dll");
    const auto beside = load_library(folder.path() / "tarvo_probe.dll");
    ASSERT_TRUE(beside.has_value()) << describe(beside.error());
    using Value = int (*)();
    const auto value = reinterpret_cast<Value>(library_symbol(*beside, "tarvo_probe_value"));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value(), 42);
}

TEST(RestrictLibrarySearch, ALibraryBesideTheProgramIsNoLongerLoadedByName) {
    ASSERT_TRUE(fs::exists(test_folder() / "tarvo_probe_bare.dll"));
    restrict_library_search();
    HMODULE bare = LoadLibraryW(L"tarvo_probe_bare.dll");
    EXPECT_EQ(bare, nullptr) << "loaded from the program's own folder";
    EXPECT_NE(LoadLibraryW(L"version.dll"), nullptr) << "System32 is still searched";
}

}  // namespace
}  // namespace tarvo::platform::win32
