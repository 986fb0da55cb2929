// The system's raw GRE socket: where the system refuses one (no right to
// raw sockets; Wine knows no protocol 47), opening fails with the system's
// reason instead of handing out a dead socket.
#include "platform/gre_socket.h"

#include <array>

#include <gtest/gtest.h>

#include "platform/gre_exchange.h"
#include "support/in_process_gre.h"

namespace {

using tarvo::Ipv4Address;

TEST(GreSocket, OpensOrSaysWhyNot) {
    tarvo::platform::start_socket_library();
    tarvo::platform::start_socket_library();  // every bridge start does it again
    auto socket = tarvo::platform::open_gre_socket();
    if (!socket) {
        EXPECT_NE(socket.error().code, 0);
        EXPECT_FALSE(socket.error().message.empty());
        return;
    }
    EXPECT_TRUE((*socket)->set_receive_timeout(std::chrono::milliseconds(250)).has_value());
    EXPECT_TRUE((*socket)->bind(Ipv4Address{{127, 0, 0, 1}}).has_value());
}

TEST(InProcessGre, DeliversLikeTheSystemsSocketsAndRecordsEverySend) {
    tarvo::testing::InProcessGreNetwork network;
    const Ipv4Address a{{192, 0, 2, 1}};
    const Ipv4Address b{{192, 0, 2, 2}};
    auto socket_a = network.open();
    auto socket_b = network.open();
    auto bound_elsewhere = network.open();
    ASSERT_TRUE(socket_a->bind(a).has_value());
    ASSERT_TRUE(socket_b->bind(b).has_value());
    ASSERT_TRUE(bound_elsewhere->bind(Ipv4Address{{192, 0, 2, 3}}).has_value());
    tarvo::testing::expect_datagram_crosses(*socket_a, a, *socket_b, b, 0x11);
    tarvo::testing::expect_datagram_crosses(*socket_b, b, *socket_a, a, 0x22);

    std::array<std::uint8_t, 2048> buffer{};
    const auto nothing = bound_elsewhere->receive_from(buffer, std::chrono::milliseconds(50));
    ASSERT_FALSE(nothing.has_value());
    EXPECT_TRUE(nothing.error().timed_out);
    ASSERT_EQ(network.sent().size(), 2u);
    EXPECT_EQ(network.sent()[0].destination, b);
}

}  // namespace
