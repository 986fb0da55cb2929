#include "platform/registry.h"

#include <gtest/gtest.h>

#include "platform/posix/registry_files.h"
#include "support/host_root.h"

namespace tarvo::platform {
namespace {

using testing::ScopedHostRoot;

constexpr const char* kClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";

TEST(Registry, StoresKeysAsFoldersBelowTheHostRoot) {
    ScopedHostRoot root;
    ASSERT_TRUE(write_registry_value("SOFTWARE\\Tarvo", "Name", "x").has_value());
    EXPECT_TRUE(std::filesystem::is_regular_file(root.path() / "C" / "Registry" / "HKLM" / "SOFTWARE" /
                                                 "Tarvo" / "values"));
}

TEST(Registry, EnumeratesSubkeysInSortedOrderAndReadsStrings) {
    ScopedHostRoot root;
    const std::string cls = kClassKey;
    ASSERT_TRUE(write_registry_value(cls + "\\0011", "ComponentId", "tap0901").has_value());
    ASSERT_TRUE(write_registry_value(cls + "\\0011", "NetCfgInstanceId", "{ABC-1}").has_value());
    ASSERT_TRUE(write_registry_value(cls + "\\0002", "ComponentId", "other").has_value());
    ASSERT_TRUE(write_registry_value(cls + "\\Properties", "Count", "1", "REG_DWORD").has_value());

    auto key = open_local_machine_key(cls);
    ASSERT_TRUE(key.has_value());
    std::vector<std::string> names;
    for (std::uint32_t i = 0; key->subkey_at(i).state == RegistryKey::Subkey::State::found; ++i)
        names.push_back(key->subkey_at(i).name);
    EXPECT_EQ(names, (std::vector<std::string>{"0002", "0011", "Properties"}));

    auto adapter = key->open_subkey("0011");
    ASSERT_TRUE(adapter.has_value());
    EXPECT_EQ(adapter->read_string("ComponentId"), std::optional<std::string>("tap0901"));
    EXPECT_EQ(adapter->read_string("netcfginstanceid"), std::optional<std::string>("{ABC-1}"));
    EXPECT_EQ(adapter->read_string("Missing"), std::nullopt);
    EXPECT_EQ(key->open_subkey("Properties")->read_string("Count"), std::nullopt);  // not a string
    EXPECT_EQ(key->open_subkey("9999"), std::nullopt);
}

TEST(Registry, KeyNamesMatchIgnoringCaseAndValuesKeepEveryCharacter) {
    ScopedHostRoot root;
    const std::string odd = "tab\there\nline\\back\r";
    ASSERT_TRUE(write_registry_value("SOFTWARE\\Tarvo", "Odd", odd).has_value());
    ASSERT_TRUE(write_registry_value("software\\TARVO", "odd", "replaced").has_value());
    ASSERT_TRUE(write_registry_value("SOFTWARE\\Tarvo", "Kept", odd).has_value());

    auto key = open_local_machine_key("Software\\tarvo");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->read_string("ODD"), std::optional<std::string>("replaced"));
    EXPECT_EQ(key->read_string("Kept"), std::optional<std::string>(odd));
    EXPECT_EQ(key->subkey_at(0).state, RegistryKey::Subkey::State::no_more_items);
}

TEST(Registry, AMissingKeyDoesNotOpen) {
    ScopedHostRoot root;
    EXPECT_EQ(open_local_machine_key(kClassKey), std::nullopt);
}

}  // namespace
}  // namespace tarvo::platform
