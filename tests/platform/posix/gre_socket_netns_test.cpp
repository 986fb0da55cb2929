// Raw GRE between two network namespaces over a veth pair: EoIP datagrams
// cross whole, with their source address, without don't-fragment; a frame
// larger than the link is fragmented rather than refused; a packet larger
// than the receive buffer is reported, never cut short.
#include <unistd.h>

#include <array>
#include <chrono>
#include <future>
#include <memory>

#include <gtest/gtest.h>

#include "platform/gre_exchange.h"
#include "platform/gre_socket.h"
#include "support/network_namespaces.h"

namespace {

using tarvo::Ipv4Address;
using tarvo::platform::GreSocket;

const Ipv4Address kAddressA{{192, 0, 2, 1}};
const Ipv4Address kAddressB{{192, 0, 2, 2}};

class GreSocketNetns : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to create network namespaces and raw sockets";
        namespaces_ = std::make_unique<tarvo::testing::VethNamespacePair>("tarvo-gre-", "192.0.2.1",
                                                                          "192.0.2.2");
        if (!namespaces_->ready()) GTEST_SKIP() << "could not build the namespaces and their veth link";
        socket_a_ = tarvo::testing::open_gre_socket_in(namespaces_->a(), kAddressA);
        socket_b_ = tarvo::testing::open_gre_socket_in(namespaces_->b(), kAddressB);
        ASSERT_TRUE(socket_a_ && socket_b_);
    }

    std::unique_ptr<tarvo::testing::VethNamespacePair> namespaces_;
    std::unique_ptr<GreSocket> socket_a_;
    std::unique_ptr<GreSocket> socket_b_;
};

TEST_F(GreSocketNetns, ExchangesEoipDatagramsBothWays) {
    tarvo::testing::expect_datagram_crosses(*socket_a_, kAddressA, *socket_b_, kAddressB, 0x5A);
    tarvo::testing::expect_datagram_crosses(*socket_b_, kAddressB, *socket_a_, kAddressA, 0xA5);
}

TEST_F(GreSocketNetns, ReceiveTimesOutWhenNothingArrives) {
    std::array<std::uint8_t, 2048> buffer{};
    const auto received = socket_a_->receive_from(buffer, std::chrono::milliseconds(250));
    ASSERT_FALSE(received.has_value());
    EXPECT_TRUE(received.error().timed_out);
}

// The bridge's receiver must see its stop flag even when the socket's own
// receive time-out could not be set: the wait it asks for bounds the receive.
TEST_F(GreSocketNetns, AReceiveEndsAfterItsWaitWithoutTheSocketsTimeOut) {
    std::unique_ptr<GreSocket> plain;
    tarvo::testing::run_in_namespace(namespaces_->a(), [&] {
        auto socket = tarvo::platform::open_gre_socket();
        if (socket && (*socket)->bind(kAddressA)) plain = std::move(*socket);
    });
    ASSERT_TRUE(plain);

    std::array<std::uint8_t, 2048> buffer{};
    auto receive = std::async(std::launch::async, [&] {
        return plain->receive_from(buffer, std::chrono::milliseconds(100));
    });
    if (receive.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the receive was still waiting after 20 s, asked to wait 100 ms";
        // A packet ends the wait, so the test can end.
        (void)socket_b_->send_to(tarvo::testing::sample_eoip_datagram(0x01, 60), kAddressA);
    }
    const auto received = receive.get();
    if (!received.has_value()) {
        EXPECT_TRUE(received.error().timed_out) << received.error().code;
    }
}

TEST_F(GreSocketNetns, AFrameLargerThanTheLinkIsFragmentedNotRefused) {
    ASSERT_TRUE(tarvo::testing::run_command("ip -n " + namespaces_->a() + " link set veth0 mtu 1280"));
    const auto datagram = tarvo::testing::sample_eoip_datagram(0x3C, 1514);
    ASSERT_TRUE(socket_a_->send_to(datagram, kAddressB).has_value());

    std::array<std::uint8_t, 2048> buffer{};
    const auto received = tarvo::testing::receive_awaited(*socket_b_, buffer);
    ASSERT_TRUE(received.has_value()) << received.error().code;
    ASSERT_EQ(received->length, 20 + datagram.size());
    EXPECT_EQ(buffer[20 + 12 + 1513], 0x3C);
}

TEST_F(GreSocketNetns, APacketLargerThanTheBufferIsAFailureNotAShortFrame) {
    ASSERT_TRUE(socket_a_->send_to(tarvo::testing::sample_eoip_datagram(0x01, 2100), kAddressB).has_value());
    std::array<std::uint8_t, 2048> buffer{};
    const auto oversized = tarvo::testing::receive_awaited(*socket_b_, buffer);
    ASSERT_FALSE(oversized.has_value());
    EXPECT_FALSE(oversized.error().timed_out);

    // The socket goes on with the next packet.
    tarvo::testing::expect_datagram_crosses(*socket_a_, kAddressA, *socket_b_, kAddressB, 0x02);
}

TEST_F(GreSocketNetns, BindingAnAddressThatIsNotLocalFails) {
    tarvo::testing::run_in_namespace(namespaces_->a(), [&] {
        auto socket = tarvo::platform::open_gre_socket();
        ASSERT_TRUE(socket.has_value());
        const auto bound = (*socket)->bind(Ipv4Address{{192, 0, 2, 99}});
        ASSERT_FALSE(bound.has_value());
        EXPECT_NE(bound.error().code, 0);
    });
}

}  // namespace
