#include <windows.h>

#include <gtest/gtest.h>

#include "platform/tap_device.h"

namespace tarvo::platform {
namespace {

TEST(TapDeviceWin32, OpeningAMissingAdapterGivesTheWin32Code) {
    // No TAP-Windows driver exists here (nor under Wine).
    const auto device = open_tap_device("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    ASSERT_FALSE(device.has_value());
    EXPECT_EQ(device.error(), static_cast<TapError>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace tarvo::platform
