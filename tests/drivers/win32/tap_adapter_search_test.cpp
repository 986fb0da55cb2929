// The adapter search over the real registry API, on a scratch key seeded the
// way the adapter class key looks (the class key itself is left alone).
#include <windows.h>

#include <gtest/gtest.h>

#include "drivers/tap_adapter.h"
#include "drivers/tap_adapter_search_cases.h"
#include "text/utf16_text.h"

namespace tarvo {
namespace {

using testing::AdapterSearchCase;

std::wstring wide(const std::string& utf8) {
    const std::u16string units = text::utf8_to_utf16(utf8);
    return {units.begin(), units.end()};
}

class TapAdapterSearch : public ::testing::TestWithParam<AdapterSearchCase> {
protected:
    void SetUp() override {
        root_ = "SOFTWARE\\TarvoTests\\TapAdapterSearch" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide(root_).c_str());
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, wide(root_).c_str()); }

    void seed(const testing::SeededAdapter& adapter) const {
        HKEY key = nullptr;
        const std::wstring path = wide(class_key() + "\\" + adapter.subkey);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        auto set = [&](const wchar_t* name, const std::string& text) {
            const std::wstring data = wide(text);
            RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        };
        if (adapter.component_id) set(L"ComponentId", *adapter.component_id);
        if (adapter.guid) set(L"NetCfgInstanceId", *adapter.guid);
        RegCloseKey(key);
    }
    std::string class_key() const { return root_ + "\\Class"; }

    std::string root_;
};

TEST_P(TapAdapterSearch, FindsTheFirstTapAdapterWithABracedGuid) {
    for (const auto& adapter : GetParam().adapters) seed(adapter);
    EXPECT_EQ(find_tap_adapter_below(class_key()), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(Registry, TapAdapterSearch, ::testing::ValuesIn(testing::adapter_search_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(TapAdapterSearchWin32, WithoutTheAdapterClassKeyFindsNothing) {
    // A fresh Wine prefix has no network adapter class key.
    EXPECT_EQ(find_tap_adapter_below("SOFTWARE\\TarvoTests\\NoSuchClassKey"), std::nullopt);
}

}  // namespace
}  // namespace tarvo
