// The adapter search over the file-backed registry of the linux build.
#include <gtest/gtest.h>

#include "drivers/tap_adapter.h"
#include "drivers/tap_adapter_search_cases.h"
#include "platform/posix/registry_files.h"
#include "support/host_root.h"

namespace tarvo {
namespace {

using testing::AdapterSearchCase;

void seed(const testing::SeededAdapter& adapter) {
    const std::string key = std::string(platform::kNetworkAdapterClassKey) + "\\" + adapter.subkey;
    ASSERT_TRUE(platform::write_registry_value(key, "DriverDesc", "adapter").has_value());
    if (adapter.component_id) {
        ASSERT_TRUE(platform::write_registry_value(key, "ComponentId", *adapter.component_id).has_value());
    }
    if (adapter.guid) {
        ASSERT_TRUE(platform::write_registry_value(key, "NetCfgInstanceId", *adapter.guid).has_value());
    }
}

class TapAdapterSearch : public ::testing::TestWithParam<AdapterSearchCase> {};

TEST_P(TapAdapterSearch, FindsTheFirstTapAdapterWithABracedGuid) {
    testing::ScopedHostRoot root;
    for (const auto& adapter : GetParam().adapters) seed(adapter);
    EXPECT_EQ(find_tap_adapter(), GetParam().found);
}

INSTANTIATE_TEST_SUITE_P(Registry, TapAdapterSearch, ::testing::ValuesIn(testing::adapter_search_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(TapAdapterSearchPosix, NoClassKeyFindsNothing) {
    testing::ScopedHostRoot root;
    EXPECT_EQ(find_tap_adapter(), std::nullopt);
}

TEST(TapAdapterSearchPosix, ASubkeyWhoseNameIsNotTextIsPassedOver) {
    testing::ScopedHostRoot root;
    const std::string guid = "{11111111-2222-3333-4444-555555555555}";
    seed({"0001", "tap0901", guid});
    seed({"0000\xFF", "tap0901", "{00000000-0000-0000-0000-000000000000}"});  // enumerated first
    EXPECT_EQ(find_tap_adapter(), guid);
}

}  // namespace
}  // namespace tarvo
