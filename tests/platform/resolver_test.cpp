#include "platform/resolver.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo::platform {
namespace {

TEST(ResolveHostPort, LiteralAddressesResolveWithoutAName) {
    const auto v4 = resolve_host_port("198.51.100.7:51820");
    ASSERT_TRUE(v4) << v4.error();
    ASSERT_FALSE(v4->empty());
    EXPECT_TRUE(v4->front().is_ipv4);
    EXPECT_EQ(v4->front().address[0], 198);
    EXPECT_EQ(v4->front().address[3], 7);
    EXPECT_EQ(v4->front().port, 51820);
}

TEST(ResolveHostPort, AnUnresolvableNameGivesTheResolversDescription) {
    const auto none = resolve_host_port("no-such-host.invalid:1");
    ASSERT_FALSE(none);
    EXPECT_FALSE(none.error().empty());
}

}  // namespace
}  // namespace tarvo::platform
