// The bridge's threads over the in-process GRE double: what they send, that
// they end once the running flag is cleared, and that they let go of the
// shared cells when they end.
#include "tap_l2/bridge_threads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/in_process_gre.h"

namespace {

using tarvo::Ipv4Address;
using ::testing::ElementsAre;

const Ipv4Address kHub{{10, 200, 0, 1}};
const Ipv4Address kTunnelAddress{{10, 200, 0, 7}};

class ArpKeepaliveThread : public ::testing::Test {
protected:
    void SetUp() override {
        socket_ = network_.open();
        ASSERT_TRUE(socket_->bind(kTunnelAddress).has_value());
    }

    tarvo::ArpKeepaliveContext context() {
        tarvo::ArpKeepaliveContext c;
        c.running = running_;
        c.sequence = sequence_;
        c.socket = socket_.get();
        c.hub_addr = kHub;
        c.sender_ip = Ipv4Address{{10, 1, 2, 77}};
        c.tap_mac = {0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D};
        c.tunnel_id = 1000;
        return c;
    }

    tarvo::testing::InProcessGreNetwork network_;
    std::unique_ptr<tarvo::platform::GreSocket> socket_;
    std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<tarvo::SequenceCounter> sequence_ = std::make_shared<tarvo::SequenceCounter>(1);
};

TEST_F(ArpKeepaliveThread, SendsTheFirstKeepaliveAtOnceAndEndsWhenTheFlagIsCleared) {
    std::thread thread = tarvo::start_bridge_thread(&tarvo::arp_keepalive_thread_entry, context());
    const auto sent = network_.wait_for_sent(1);
    running_->store(false);
    thread.join();

    ASSERT_EQ(sent[0].destination, kHub);
    const auto& datagram = sent[0].gre_payload;
    ASSERT_EQ(datagram.size(), 54u);
    EXPECT_THAT(std::span(datagram).first(12),
                ElementsAre(0x20, 0x01, 0x64, 0x00, 0x00, 0x2A, 0xE8, 0x03, 0x00, 0x00, 0x00, 0x01));
    const auto frame = tarvo::build_arp_keepalive_frame({0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D}, {{10, 1, 2, 77}});
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), datagram.begin() + 12));
    // The loop has released its references to the shared cells.
    EXPECT_EQ(running_.use_count(), 1);
    EXPECT_EQ(sequence_.use_count(), 1);
    EXPECT_EQ(sequence_->load(), 1 + network_.sent().size());
}

TEST_F(ArpKeepaliveThread, SendsNothingOnceTheFlagIsAlreadyCleared) {
    running_->store(false);
    tarvo::start_bridge_thread(&tarvo::arp_keepalive_thread_entry, context()).join();
    EXPECT_TRUE(network_.sent().empty());
    EXPECT_EQ(sequence_->load(), 1u);
}

}  // namespace
