// Windows-only behaviour of the seams, checked against the real API.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "platform/library.h"
#include "platform/os_error.h"
#include "platform/paths.h"
#include "platform/registry.h"

namespace tarvo::platform {
namespace {

TEST(EnvironmentVariableWin32, InvalidUnicodeCountsAsNotSet) {
    const wchar_t lone_surrogate[] = {L'a', wchar_t(0xD800), L'b', 0};
    ASSERT_TRUE(SetEnvironmentVariableW(L"TARVO_TEST_VARIABLE", lone_surrogate));
    EXPECT_EQ(environment_variable("TARVO_TEST_VARIABLE"), std::nullopt);

    ASSERT_TRUE(SetEnvironmentVariableW(L"TARVO_TEST_VARIABLE", L"C:\\Users\\Zo\u017Ca\\AppData"));
    EXPECT_EQ(environment_variable("TARVO_TEST_VARIABLE"),
              "C:\\Users\\Zo\xC5\xBC"
              "a\\AppData");

    const std::wstring long_value(5000, L'x');
    ASSERT_TRUE(SetEnvironmentVariableW(L"TARVO_TEST_VARIABLE", long_value.c_str()));
    EXPECT_EQ(environment_variable("TARVO_TEST_VARIABLE"), std::string(5000, 'x'));

    ASSERT_TRUE(SetEnvironmentVariableW(L"TARVO_TEST_VARIABLE", nullptr));
    EXPECT_EQ(environment_variable("TARVO_TEST_VARIABLE"), std::nullopt);
}

TEST(PathsWin32, WindowsPathsAreThemselves) {
    EXPECT_EQ(host_path("C:\\ProgramData\\TARVO\\driver").native(), L"C:\\ProgramData\\TARVO\\driver");
    const std::filesystem::path lone(std::wstring{L'a', wchar_t(0xDC00)});
    EXPECT_EQ(path_text(lone), "a\xEF\xBF\xBD");
}

TEST(OsErrorWin32, IsTheSystemMessageOnOneLine) {
    const OsError error = os_error(ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(error.code, 2);
    ASSERT_FALSE(error.message.empty());
    EXPECT_NE(error.message.back(), '\n');
    EXPECT_NE(error.message.back(), '\r');
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(last_os_error().code, 5);
}

TEST(ProcessArgumentsWin32, SplitsTheProcessCommandLineNotArgv) {
    char fake[] = "not-the-program";
    char* argv[] = {fake, nullptr};
    const std::vector<std::string> args = process_arguments(1, argv);
    ASSERT_FALSE(args.empty());
    EXPECT_NE(args[0].find("tarvo_platform_tests"), std::string::npos) << args[0];
}

TEST(LibraryWin32, LoadsBySystemPathAndLooksUpEntryPoints) {
    auto library = load_library(L"C:\\Windows\\System32\\kernel32.dll");
    ASSERT_TRUE(library) << describe(library.error());
    using GetPid = DWORD(WINAPI*)();
    auto* entry = library_symbol(*library, "GetCurrentProcessId");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(reinterpret_cast<GetPid>(entry)(), GetCurrentProcessId());
    EXPECT_EQ(library_symbol(*library, "TarvoNoSuchEntryPoint"), nullptr);
}

TEST(LibraryWin32, AMissingLibraryIsTheSystemsError) {
    auto library = load_library(L"C:\\ProgramData\\TARVO-no-such-folder\\wireguard.dll");
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error().code, ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(library.error().message.empty());
}

// Each test makes its keys under a folder of its own (tests run in parallel
// processes) and removes them again.
class RegistryWin32 : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        root_ = "SOFTWARE\\TarvoTests\\" + test;
        wide_root_.assign(root_.begin(), root_.end());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide_root_.c_str());
        make_key(L"Class\\0000", {{L"NetCfgInstanceId", L"{1234-ABCD}"}, {L"ComponentId", L"tap0901"}});
        make_key(L"Class\\0001", {{L"ComponentId", L"other"}});
        HKEY key = create(L"Class\\0001");
        const DWORD number = 7;
        RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
        const wchar_t expand[] = L"%SystemRoot%";
        RegSetValueExW(key, L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand),
                       sizeof expand);
        // Stored without its terminating zero, as some installers write it.
        RegSetValueExW(key, L"Unterminated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"abc"),
                       3 * sizeof(wchar_t));
        const std::wstring long_text(1000, L'L');
        RegSetValueExW(key, L"Long", 0, REG_SZ, reinterpret_cast<const BYTE*>(long_text.c_str()),
                       static_cast<DWORD>((long_text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide_root_.c_str()); }

    HKEY create(const std::wstring& sub) const {
        HKEY key = nullptr;
        const std::wstring path = wide_root_ + L"\\" + sub;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void make_key(const std::wstring& sub,
                  std::initializer_list<std::pair<const wchar_t*, const wchar_t*>> values) const {
        HKEY key = create(sub);
        for (const auto& [name, text] : values)
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    std::string root_;  // ASCII
    std::wstring wide_root_;
};

TEST_F(RegistryWin32, EnumeratesSubkeysAndReadsStrings) {
    auto root = open_local_machine_key(root_ + "\\Class");
    ASSERT_TRUE(root);
    std::vector<std::string> names;
    for (std::uint32_t i = 0; root->subkey_at(i).state == RegistryKey::Subkey::State::found; ++i)
        names.push_back(root->subkey_at(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"0000", "0001"}));

    auto first = root->open_subkey("0000");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->read_string("NetCfgInstanceId"), "{1234-ABCD}");
    EXPECT_EQ(first->read_string("ComponentId"), "tap0901");
    EXPECT_EQ(first->read_string("Missing"), std::nullopt);
}

TEST_F(RegistryWin32, ReadsOnlyStringValues) {
    auto key = open_local_machine_key(root_ + "\\Class\\0001");
    ASSERT_TRUE(key);
    EXPECT_EQ(key->read_string("Number"), std::nullopt);
    EXPECT_EQ(key->read_string("Expand"), std::nullopt);
    EXPECT_EQ(key->read_string("Unterminated"), "abc");
    EXPECT_EQ(key->read_string("Long"), std::string(1000, 'L'));
}

TEST_F(RegistryWin32, MissingKeysAreNothing) {
    EXPECT_FALSE(open_local_machine_key(root_ + "\\Nope"));
    auto root = open_local_machine_key(root_ + "\\Class");
    ASSERT_TRUE(root);
    EXPECT_FALSE(root->open_subkey("0002"));
    EXPECT_EQ(root->subkey_at(2).state, RegistryKey::Subkey::State::no_more_items);
}

}  // namespace
}  // namespace tarvo::platform
