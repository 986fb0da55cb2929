// The TAP device on a real Linux TAP in a network namespace made for the test:
// frames both ways through the host's own stack (an ARP exchange), the
// carrier, cancelling, and exclusive opening.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <thread>

#include "platform/posix/adapter_registry.h"
#include "platform/posix/registry_files.h"
#include "platform/registry.h"
#include "platform/tap_device.h"
#include "support/host_root.h"
#include "support/scoped_namespace.h"
#include "support/waiting.h"

namespace tarvo::platform {
namespace {

using State = TapTransfer::State;
using namespace std::chrono_literals;

const std::string kGuid = "{5A1E0C2D-3E4F-4A5B-9C6D-7E8F90A1B2C3}";
const std::string kInterface = "tarvotap9";
constexpr std::array<std::uint8_t, 6> kOurMac = {0x02, 0x54, 0x41, 0x50, 0x00, 0x02};

// An ARP request from 10.79.0.2 (our MAC) for the host's 10.79.0.1.
std::vector<std::uint8_t> arp_request() {
    std::vector<std::uint8_t> f = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    f.insert(f.end(), kOurMac.begin(), kOurMac.end());
    for (std::uint8_t b : {0x08, 0x06, 0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01}) f.push_back(b);
    f.insert(f.end(), kOurMac.begin(), kOurMac.end());
    for (std::uint8_t b : {10, 79, 0, 2, 0, 0, 0, 0, 0, 0, 10, 79, 0, 1}) f.push_back(b);
    return f;
}

bool is_arp_reply_to_us(const std::uint8_t* f, std::size_t n) {
    return n >= 42 && std::equal(kOurMac.begin(), kOurMac.end(), f) && f[12] == 0x08 && f[13] == 0x06 &&
           f[20] == 0x00 && f[21] == 0x02;
}

// Writes the request and reads what the host sends back, in rounds of one
// 250-ms slice, until its ARP reply comes (the host sends nothing until it
// has noticed the carrier that attaching the device raised).
bool host_answers(TapTransfer& writer, TapTransfer& reader) {
    const auto request = arp_request();
    std::array<std::uint8_t, 2048> buffer{};
    const auto give_up = std::chrono::steady_clock::now() + testing::kPatience;
    while (std::chrono::steady_clock::now() < give_up) {
        const auto written = writer.start_write(request);
        if (written.state != State::completed || written.bytes != request.size()) return false;
        auto read = reader.start_read(buffer);
        if (read.state == State::pending) read = reader.wait(250ms);
        if (read.state == State::pending) read = reader.cancel_and_wait();
        if (read.state == State::completed && is_arp_reply_to_us(buffer.data(), read.bytes)) return true;
    }
    return false;
}

class TapDeviceInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace and a TAP";
        if (!ns_.created()) GTEST_SKIP() << "ip netns add failed: no network namespaces here";
        ns_.ip("tuntap add mode tap name " + kInterface);
        (void)std::system(
            ("ip netns exec " + ns_.name() + " sysctl -qw net.ipv6.conf." + kInterface + ".disable_ipv6=1")
                .c_str());
        ns_.ip("address add 10.79.0.1/24 dev " + kInterface);
        ns_.ip("link set dev " + kInterface + " up");
        const std::string key = std::string(kNetworkAdapterClassKey) + "\\0000";
        ASSERT_TRUE(write_registry_value(key, "NetCfgInstanceId", kGuid).has_value());
        ASSERT_TRUE(write_registry_value(key, kLinuxInterfaceValue, kInterface).has_value());
    }
    void TearDown() override {
        if (ns_.created()) ns_.ip("link delete dev " + kInterface);
    }

    testing::ScopedHostRoot root_;
    testing::ScopedNamespace ns_{"tarvo-tap-"};
};

TEST_F(TapDeviceInNamespace, AWrittenFrameReachesTheHostAndItsAnswerIsReadBack) {
    ns_.run_inside([&] {
        auto device = open_tap_device(kGuid);
        ASSERT_TRUE(device.has_value()) << "error " << device.error();
        auto writer = (*device)->new_transfer();
        auto reader = (*device)->new_transfer();
        // The host's stack answers the request the device delivered to it.
        EXPECT_TRUE(host_answers(*writer, *reader));
    });
}

TEST_F(TapDeviceInNamespace, MediaStatusIsTheCarrier) {
    ns_.run_inside([&] {
        auto device = open_tap_device(kGuid);
        ASSERT_TRUE(device.has_value()) << "error " << device.error();
        ASSERT_TRUE((*device)->set_media_status(false).has_value());
        EXPECT_NE(ns_.ip("link show dev " + kInterface).find("NO-CARRIER"), std::string::npos);
        ASSERT_TRUE((*device)->set_media_status(true).has_value());
        EXPECT_EQ(ns_.ip("link show dev " + kInterface).find("NO-CARRIER"), std::string::npos);
    });
}

TEST_F(TapDeviceInNamespace, CancellingEndsPendingReads) {
    ns_.run_inside([&] {
        auto device = open_tap_device(kGuid);
        ASSERT_TRUE(device.has_value()) << "error " << device.error();
        auto transfer = (*device)->new_transfer();
        std::array<std::uint8_t, 2048> buffer{};

        ASSERT_EQ(transfer->start_read(buffer).state, State::pending);
        EXPECT_EQ(transfer->cancel_and_wait().state, State::failed);

        ASSERT_EQ(transfer->start_read(buffer).state, State::pending);
        std::thread stop([&] { (*device)->cancel_all_io(); });
        auto result = transfer->wait(250ms);
        while (result.state == State::pending) result = transfer->wait(250ms);
        stop.join();
        EXPECT_EQ(result.state, State::failed);
        EXPECT_EQ(result.error, static_cast<TapError>(ECANCELED));

        // A cancel before an operation starts does not end it.
        ASSERT_EQ(transfer->start_read(buffer).state, State::pending);
        EXPECT_EQ(transfer->wait(1ms).state, State::pending);
        (void)transfer->cancel_and_wait();
    });
}

TEST_F(TapDeviceInNamespace, OpensOnlyARegisteredAdapterAndOnlyOnce) {
    ns_.run_inside([&] {
        const auto unknown = open_tap_device("{00000000-0000-0000-0000-000000000000}");
        ASSERT_FALSE(unknown.has_value());
        EXPECT_EQ(unknown.error(), static_cast<TapError>(ENOENT));

        auto first = open_tap_device(kGuid);
        ASSERT_TRUE(first.has_value()) << "error " << first.error();
        const auto second = open_tap_device(kGuid);
        ASSERT_FALSE(second.has_value());
        EXPECT_EQ(second.error(), static_cast<TapError>(EBUSY));
    });
}

}  // namespace
}  // namespace tarvo::platform
