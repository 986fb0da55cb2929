// The bridge's threads over the in-process GRE double: what they send, that
// they end once the running flag is cleared, and that they let go of the
// shared cells when they end.
#include "tap_l2/bridge_threads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>

#include "support/fake_tap_device.h"
#include "support/hand_built_eoip.h"
#include "support/in_process_gre.h"
#include "support/waiting.h"

namespace {

std::vector<std::uint8_t> joined(std::vector<std::uint8_t> head, const std::vector<std::uint8_t>& tail) {
    const std::size_t head_length = head.size();
    head.resize(head_length + tail.size());
    std::copy(tail.begin(), tail.end(), head.begin() + static_cast<std::ptrdiff_t>(head_length));
    return head;
}

using tarvo::Ipv4Address;
using ::testing::ElementsAre;

const Ipv4Address kHub{{10, 200, 0, 1}};
const Ipv4Address kTunnelAddress{{10, 200, 0, 7}};
const Ipv4Address kStranger{{10, 200, 0, 9}};
using Bytes = std::vector<std::uint8_t>;

// Built by hand, not by the code under test; sequence 42.
Bytes eoip_datagram(const Bytes& frame, std::uint8_t tunnel_low = 0xE8, std::uint8_t tunnel_high = 0x03) {
    return tarvo::testing::hand_built_eoip_datagram(frame, 42, tunnel_low, tunnel_high);
}

Bytes sample_frame(std::size_t length, std::uint8_t fill) {
    Bytes frame(length, fill);
    frame[0] = 0x02;
    return frame;
}

std::uint32_t sequence_of(const Bytes& datagram) {
    return std::uint32_t{datagram[8]} << 24 | std::uint32_t{datagram[9]} << 16 |
           std::uint32_t{datagram[10]} << 8 | datagram[11];
}

// The bridge's threads over the doubles: a TAP device, a bridge socket bound
// to the tunnel address, and the hub's and a stranger's sockets.
class BridgeThreads : public ::testing::Test {
protected:
    void SetUp() override {
        bridge_socket_ = open_bound(kTunnelAddress);
        hub_socket_ = open_bound(kHub);
        stranger_socket_ = open_bound(kStranger);
    }

    std::unique_ptr<tarvo::platform::GreSocket> open_bound(const Ipv4Address& address) {
        auto socket = network_.open();
        EXPECT_TRUE(socket->bind(address).has_value());
        EXPECT_TRUE(socket->set_receive_timeout(std::chrono::milliseconds(250)).has_value());
        return socket;
    }

    tarvo::TapToGreContext tap_to_gre() {
        return {running_, sequence_, tx_bytes_, &tap_, bridge_socket_.get(), kHub, 1000};
    }
    tarvo::GreToTapContext gre_to_tap() {
        return {running_, rx_bytes_, sequence_, &tap_, bridge_socket_.get(), kHub, kHub, 1000};
    }

    // What the bridge itself sent, once there are at least `count` (or
    // whatever there is when the wait runs out, for the assertions to report).
    std::vector<tarvo::testing::SentGrePacket> bridge_sent(std::size_t count) {
        std::vector<tarvo::testing::SentGrePacket> own;
        tarvo::testing::wait_until("the bridge's datagrams", [&] {
            own.clear();
            for (auto& packet : network_.sent()) {
                if (packet.source == kTunnelAddress) own.push_back(std::move(packet));
            }
            return own.size() >= count;
        });
        return own;
    }

    void stop(std::vector<std::thread>& threads) {
        running_->store(false);
        for (auto& thread : threads) thread.join();
        // Every loop has released its references to the shared cells.
        EXPECT_EQ(running_.use_count(), 1);
        EXPECT_EQ(sequence_.use_count(), 1);
    }

    tarvo::testing::FakeTapDevice tap_;
    tarvo::testing::InProcessGreNetwork network_;
    std::unique_ptr<tarvo::platform::GreSocket> bridge_socket_;
    std::unique_ptr<tarvo::platform::GreSocket> hub_socket_;
    std::unique_ptr<tarvo::platform::GreSocket> stranger_socket_;
    std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(true);
    std::shared_ptr<tarvo::SequenceCounter> sequence_ = std::make_shared<tarvo::SequenceCounter>(1);
    std::shared_ptr<tarvo::ByteCounter> tx_bytes_ = std::make_shared<tarvo::ByteCounter>(0);
    std::shared_ptr<tarvo::ByteCounter> rx_bytes_ = std::make_shared<tarvo::ByteCounter>(0);
};

TEST_F(BridgeThreads, EachFrameFromTheTapLeavesInOneDatagramAndCountsWithoutItsHeader) {
    std::vector<std::thread> threads;
    threads.push_back(tarvo::start_bridge_thread(&tarvo::tap_to_gre_thread_entry, tap_to_gre()));
    const Bytes small = sample_frame(60, 0x11);
    const Bytes full = sample_frame(1514, 0x22);
    tap_.host_sends(small);
    tap_.host_sends({});  // a read of 0 bytes: nothing to send
    tap_.host_sends(full);
    const auto sent = bridge_sent(2);
    stop(threads);

    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].destination, kHub);
    EXPECT_EQ(sent[0].gre_payload,
              joined({0x20, 0x01, 0x64, 0x00, 0x00, 0x3C, 0xE8, 0x03, 0, 0, 0, 1}, small));
    EXPECT_EQ(Bytes(sent[1].gre_payload.begin(), sent[1].gre_payload.begin() + 12),
              (Bytes{0x20, 0x01, 0x64, 0x00, 0x05, 0xEA, 0xE8, 0x03, 0, 0, 0, 2}));
    EXPECT_EQ(sent[1].gre_payload.size(), 12 + full.size());
    EXPECT_EQ(tx_bytes_->load(), 60u + 1514u);
    EXPECT_EQ(sequence_->load(), 3u);
}

TEST_F(BridgeThreads, TheTapReaderEndsWhenStoppedDuringAPendingRead) {
    std::vector<std::thread> threads;
    threads.push_back(tarvo::start_bridge_thread(&tarvo::tap_to_gre_thread_entry, tap_to_gre()));
    stop(threads);
    EXPECT_TRUE(network_.sent().empty());
    EXPECT_EQ(tx_bytes_->load(), 0u);
}

TEST_F(BridgeThreads, TheReceiverWritesAcceptedFramesAndAnswersAnEmptyDatagram) {
    std::vector<std::thread> threads;
    threads.push_back(tarvo::start_bridge_thread(&tarvo::gre_to_tap_thread_entry, gre_to_tap()));
    const Bytes frame = sample_frame(60, 0x33);
    ASSERT_TRUE(stranger_socket_->send_to(eoip_datagram(sample_frame(70, 1)), kTunnelAddress).has_value());
    ASSERT_TRUE(
        hub_socket_->send_to(eoip_datagram(sample_frame(80, 2), 0x03, 0xE8), kTunnelAddress).has_value());
    ASSERT_TRUE(hub_socket_->send_to(eoip_datagram(frame), kTunnelAddress).has_value());
    ASSERT_TRUE(hub_socket_->send_to(eoip_datagram({}), kTunnelAddress).has_value());
    const auto answers = bridge_sent(1);  // in order: all before the empty one are done
    stop(threads);

    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].destination, kHub);
    EXPECT_EQ(answers[0].gre_payload, (Bytes{0x20, 0x01, 0x64, 0x00, 0x00, 0x00, 0xE8, 0x03, 0, 0, 0, 1}));
    EXPECT_EQ(tap_.host_received(), std::vector<Bytes>{frame});
    EXPECT_EQ(rx_bytes_->load(), 60u);  // the answer counts nothing
    EXPECT_EQ(sequence_->load(), 2u);
}

TEST_F(BridgeThreads, TheReceiverCountsAFrameWhateverItsTapWrite) {
    tap_.fail_writes();
    std::vector<std::thread> threads;
    threads.push_back(tarvo::start_bridge_thread(&tarvo::gre_to_tap_thread_entry, gre_to_tap()));
    ASSERT_TRUE(hub_socket_->send_to(eoip_datagram(sample_frame(60, 0x44)), kTunnelAddress).has_value());
    ASSERT_TRUE(hub_socket_->send_to(eoip_datagram({}), kTunnelAddress).has_value());
    bridge_sent(1);  // the answer: the frame before it has been handled
    stop(threads);

    EXPECT_TRUE(tap_.host_received().empty());
    EXPECT_EQ(rx_bytes_->load(), 60u);
}

TEST_F(BridgeThreads, AllThreeThreadsTakeDistinctNumbersFromTheOneCounter) {
    tarvo::ArpKeepaliveContext keepalive{running_,
                                         sequence_,
                                         bridge_socket_.get(),
                                         kHub,
                                         Ipv4Address{{10, 1, 2, 77}},
                                         {0x02, 0, 0, 0, 0, 0x01},
                                         1000};
    std::vector<std::thread> threads;
    threads.push_back(tarvo::start_bridge_thread(&tarvo::tap_to_gre_thread_entry, tap_to_gre()));
    threads.push_back(tarvo::start_bridge_thread(&tarvo::gre_to_tap_thread_entry, gre_to_tap()));
    threads.push_back(tarvo::start_bridge_thread(&tarvo::arp_keepalive_thread_entry, std::move(keepalive)));
    constexpr std::size_t kEach = 200;
    for (std::size_t i = 0; i < kEach; ++i) {
        tap_.host_sends(sample_frame(60, static_cast<std::uint8_t>(i)));
        ASSERT_TRUE(hub_socket_->send_to(eoip_datagram({}), kTunnelAddress).has_value());
    }
    bridge_sent(2 * kEach + 1);  // the frames, the answers and a keepalive
    stop(threads);

    const auto sent = bridge_sent(0);
    std::set<std::uint32_t> numbers;
    for (const auto& packet : sent) numbers.insert(sequence_of(packet.gre_payload));
    EXPECT_EQ(numbers.size(), sent.size());
    EXPECT_EQ(*numbers.begin(), 1u);
    EXPECT_EQ(*numbers.rbegin(), sent.size());
}

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
    const auto frame = tarvo::build_arp_keepalive_frame({0x00, 0xFF, 0x5A, 0x1B, 0x2C, 0x3D},
                                                        {{10, 1, 2, 77}});
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), datagram.begin() + 12));
    // The loop has released its references to the shared cells.
    EXPECT_EQ(running_.use_count(), 1);
    EXPECT_EQ(sequence_.use_count(), 1);
    EXPECT_EQ(sequence_->load(), 1 + network_.sent().size());
}

TEST_F(ArpKeepaliveThread, SendsAgainAfterFortyStepsOfATenthOfASecond) {
    using std::chrono::milliseconds;
    auto keepalive = context();
    std::vector<std::pair<milliseconds, std::uint32_t>>
        steps;  // each step, and the keepalives sent before it
    keepalive.sleep = [&](milliseconds step) {
        steps.emplace_back(step, sequence_->load() - 1);
        if (steps.size() == 80) running_->store(false);
    };
    tarvo::arp_keepalive_loop(std::move(keepalive));

    std::vector<std::pair<milliseconds, std::uint32_t>> every_four_seconds(40, {milliseconds(100), 1});
    every_four_seconds.resize(80, {milliseconds(100), 2});
    EXPECT_EQ(steps, every_four_seconds);
    EXPECT_EQ(network_.sent().size(), 2u);
}

TEST_F(ArpKeepaliveThread, SendsNothingOnceTheFlagIsAlreadyCleared) {
    running_->store(false);
    tarvo::start_bridge_thread(&tarvo::arp_keepalive_thread_entry, context()).join();
    EXPECT_TRUE(network_.sent().empty());
    EXPECT_EQ(sequence_->load(), 1u);
}

}  // namespace
