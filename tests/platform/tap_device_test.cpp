#include <gtest/gtest.h>

#include <thread>

#include "platform/tap_device.h"
#include "support/fake_tap_device.h"

namespace tarvo::platform {
namespace {

using State = TapTransfer::State;

TEST(TapDevicePath, IsTheGlobalDeviceOfTheBracedGuid) {
    EXPECT_EQ(tap_device_path("{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}"),
              "\\\\.\\Global\\{0B8F1C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}.tap");
}

TEST(FakeTapDevice, AReadWaitsForTheHostAndACancelEndsIt) {
    testing::FakeTapDevice device;
    auto transfer = device.new_transfer();
    std::uint8_t buffer[2048];

    ASSERT_EQ(transfer->start_read(buffer).state, State::pending);
    EXPECT_EQ(transfer->wait(std::chrono::milliseconds(1)).state, State::pending);
    device.host_sends({1, 2, 3});
    const auto read = transfer->wait(std::chrono::milliseconds(250));
    ASSERT_EQ(read.state, State::completed);
    EXPECT_EQ(read.bytes, 3u);

    ASSERT_EQ(transfer->start_read(buffer).state, State::pending);
    std::thread stop([&] { device.cancel_all_io(); });
    auto waited = transfer->wait(std::chrono::milliseconds(250));
    while (waited.state == State::pending) waited = transfer->wait(std::chrono::milliseconds(250));
    stop.join();
    EXPECT_EQ(waited.state, State::failed);
    EXPECT_EQ(waited.error, testing::FakeTapDevice::kCancelled);

    const std::uint8_t frame[] = {9, 8, 7};
    EXPECT_EQ(transfer->start_write(frame).state, State::completed);
    EXPECT_EQ(device.host_received(), (std::vector<testing::FakeTapDevice::Frame>{{9, 8, 7}}));
}

}  // namespace
}  // namespace tarvo::platform
