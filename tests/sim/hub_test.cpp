// The simulated hub's EoIP endpoint, run in its own namespace against
// datagrams this test builds by hand from the wire format: it passes frames
// between GRE and its TAP, answers an empty datagram with a bare header, and
// counts what it sees.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gre_socket.h"
#include "support/hand_built_eoip.h"
#include "support/hub_process.h"
#include "support/network_namespaces.h"
#include "support/temp_folder.h"
#include "support/waiting.h"

extern char** environ;

namespace {

using tarvo::Ipv4Address;
using tarvo::testing::HubProcess;
using Bytes = std::vector<std::uint8_t>;

const Ipv4Address kPeer{{192, 0, 2, 1}};
const Ipv4Address kHub{{192, 0, 2, 2}};
const Ipv4Address kStranger{{192, 0, 2, 3}};

// The wire format, written out on its own.
Bytes eoip_datagram(const Bytes& frame, std::uint32_t sequence, std::uint8_t tunnel_low = 0xE8,
                    std::uint8_t tunnel_high = 0x03) {
    return tarvo::testing::hand_built_eoip_datagram(frame, sequence, tunnel_low, tunnel_high);
}

// A broadcast ARP request from 198.51.100.77 for 198.51.100.2, the hub TAP's
// address: the client's keepalive, which the hub's kernel answers.
Bytes arp_keepalive() {
    return {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x06,
            0x00, 0x01, 0x08, 0x00, 0x06, 0x04, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01,
            198,  51,   100,  77,   0,    0,    0,    0,    0,    0,    198,  51,   100,  2};
}

Bytes unicast_frame(std::size_t length) {
    Bytes frame(length, 0x33);
    frame[0] = 0x02;  // to nobody on the hub's side
    frame[12] = 0x88;
    frame[13] = 0xB5;  // a local experimental EtherType
    return frame;
}

using Stats = tarvo::testing::HubStats;
using Counts = std::vector<std::pair<std::string, std::string>>;

bool shows(const Stats& stats, const Counts& expected) {
    for (const auto& [name, value] : expected) {
        const auto found = stats.find(name);
        if (found == stats.end() || found->second != value) return false;
    }
    return true;
}

class SimHub : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces, a TAP and raw sockets";
        namespaces_ = std::make_unique<tarvo::testing::VethNamespacePair>("tarvo-hub-", "192.0.2.1",
                                                                          "192.0.2.2");
        if (!namespaces_->ready()) GTEST_SKIP() << "could not build the namespaces and their veth link";
        const std::string hub_ns = namespaces_->b();
        ASSERT_TRUE(tarvo::testing::add_addressed_tap(hub_ns, "hubtap0", "198.51.100.2/24"));
        ASSERT_TRUE(
            tarvo::testing::run_command("ip -n " + namespaces_->a() + " addr add 192.0.2.3/24 dev veth0"));

        peer_ = tarvo::testing::open_gre_socket_in(namespaces_->a(), kPeer);
        stranger_ = tarvo::testing::open_gre_socket_in(namespaces_->a(), kStranger);
        ASSERT_TRUE(peer_ && stranger_);

        hub_ = std::make_unique<HubProcess>(
            hub_ns,
            std::vector<std::string>{"--tap", "hubtap0", "--tunnel-id", "1000", "--peer", "192.0.2.1",
                                     "--local", "192.0.2.2", "--stats", stats_path().string()},
            true);
        ASSERT_TRUE(hub_->started());
        const auto ready = tarvo::testing::wait_for_hub_report(stats_path(), 0);
        ASSERT_TRUE(ready) << ready.report;
    }

    std::filesystem::path stats_path() const { return folder_.path() / "hub-stats.txt"; }

    void send(const Bytes& datagram, tarvo::platform::GreSocket* from = nullptr) {
        ASSERT_TRUE((from ? from : peer_.get())->send_to(datagram, kHub).has_value());
    }

    // The GRE part of the next packet from the hub that `wanted` accepts
    // (empty when none came while a test waits for anything).
    template <class Wanted>
    Bytes receive_from_hub(Wanted wanted) {
        std::array<std::uint8_t, 2048> buffer{};
        const auto give_up = std::chrono::steady_clock::now() + tarvo::testing::kPatience;
        while (std::chrono::steady_clock::now() < give_up) {
            const auto received = peer_->receive_from(buffer, std::chrono::milliseconds(250));
            if (!received || received->source != kHub) continue;
            const std::size_t ip_header = static_cast<std::size_t>(buffer[0] & 0x0F) * 4;
            Bytes gre(buffer.begin() + static_cast<std::ptrdiff_t>(ip_header),
                      buffer.begin() + static_cast<std::ptrdiff_t>(received->length));
            if (wanted(gre)) return gre;
        }
        return {};
    }

    Bytes receive_answer() {
        return receive_from_hub([](const Bytes& gre) { return gre.size() == 12; });
    }

    // A fresh report once it shows `expected`: the hub counts a datagram
    // after handling it, so a report asked for at once may be a step behind.
    Stats report_showing(const Counts& expected) {
        return tarvo::testing::wait_until(
                   "the hub's counters to show what was sent",
                   [&] { return tarvo::testing::fresh_hub_report(*hub_, stats_path()); },
                   [&](const Stats& stats) { return shows(stats, expected); }, tarvo::testing::kPatience,
                   std::chrono::milliseconds(100))
            .last;
    }

    tarvo::testing::TempFolder folder_;
    std::unique_ptr<tarvo::testing::VethNamespacePair> namespaces_;
    std::unique_ptr<tarvo::platform::GreSocket> peer_;
    std::unique_ptr<tarvo::platform::GreSocket> stranger_;
    std::unique_ptr<HubProcess> hub_;
};

void expect_counts(const Stats& stats, const Counts& expected) {
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(stats.count(name)) << name;
        EXPECT_EQ(stats.at(name), value) << name;
    }
}

std::uint32_t sequence_of(const Bytes& gre) {
    return std::uint32_t{gre[8]} << 24 | std::uint32_t{gre[9]} << 16 | std::uint32_t{gre[10]} << 8 | gre[11];
}

TEST_F(SimHub, CarriesTheKeepaliveToItsTapAndTheAnswerBackOverGre) {
    send(eoip_datagram(arp_keepalive(), 1));

    // The hub's kernel answers the ARP request through the TAP; the hub
    // frames that reply itself.
    const Bytes gre = receive_from_hub([](const Bytes& g) {
        return g.size() > 12 + 21 && g[12 + 12] == 0x08 && g[12 + 13] == 0x06 && g[12 + 21] == 2;
    });
    ASSERT_FALSE(gre.empty()) << "no ARP reply came back from the hub";
    const std::size_t frame_length = gre.size() - 12;
    EXPECT_EQ(Bytes(gre.begin(), gre.begin() + 8),
              (Bytes{0x20, 0x01, 0x64, 0x00, static_cast<std::uint8_t>(frame_length >> 8),
                     static_cast<std::uint8_t>(frame_length), 0xE8, 0x03}));
    EXPECT_GE(sequence_of(gre), 1u);
    EXPECT_EQ(Bytes(gre.begin() + 12, gre.begin() + 18), (Bytes{0x02, 0, 0, 0, 0, 0x01}));  // to the asker
    EXPECT_EQ(Bytes(gre.begin() + 12 + 28, gre.begin() + 12 + 32), (Bytes{198, 51, 100, 2}));

    const Counts expected = {{"frames_to_tap", "1"},     {"bytes_to_tap", "42"},
                             {"arp_keepalives", "1"},    {"last_keepalive_sender", "198.51.100.77"},
                             {"first_sequence", "1"},    {"last_tunnel_id", "1000"},
                             {"length_mismatches", "0"}, {"tap_write_errors", "0"}};
    const Stats stats = report_showing(expected);
    expect_counts(stats, expected);
    EXPECT_NE(stats.at("frames_from_tap"), "0");
}

TEST_F(SimHub, AnswersAnEmptyDatagramWithABareHeaderAndNothingReachesItsTap) {
    send(eoip_datagram({}, 5));
    const Bytes first = receive_answer();
    send(eoip_datagram({}, 6));
    const Bytes second = receive_answer();
    ASSERT_EQ(first.size(), 12u);
    ASSERT_EQ(second.size(), 12u);
    EXPECT_EQ(Bytes(first.begin(), first.begin() + 8),
              (Bytes{0x20, 0x01, 0x64, 0x00, 0x00, 0x00, 0xE8, 0x03}));
    EXPECT_EQ(sequence_of(second), sequence_of(first) + 1);

    const Counts expected = {{"empty_received", "2"}, {"answers_sent", "2"},  {"frames_to_tap", "0"},
                             {"first_sequence", "5"}, {"last_sequence", "6"}, {"sequence_breaks", "0"}};
    expect_counts(report_showing(expected), expected);
}

TEST_F(SimHub, CountsWhatItDropsAndWhatLooksWrong) {
    const Bytes frame = unicast_frame(60);
    send(eoip_datagram(frame, 1, 0x03, 0xE8));  // tunnel id in network order: another tunnel
    send(eoip_datagram(frame, 2), stranger_.get());
    Bytes wrong_protocol = eoip_datagram(frame, 3);
    wrong_protocol[2] = 0x08;
    send(wrong_protocol);
    Bytes wrong_length = eoip_datagram(frame, 4);
    wrong_length[5] = 0;
    send(wrong_length);
    Bytes without_key = eoip_datagram(frame, 0);
    without_key.erase(without_key.begin() + 8, without_key.begin() + 12);
    without_key[0] = 0x00;
    send(without_key);
    send(eoip_datagram(frame, 9));  // after 4: a break in the sequence
    send(eoip_datagram({}, 10));    // its answer says the hub has read all before it
    ASSERT_EQ(receive_answer().size(), 12u);

    const Counts expected = {{"other_tunnel", "1"},      {"foreign_source", "1"}, {"not_eoip", "1"},
                             {"length_mismatches", "1"}, {"without_key", "1"},    {"frames_to_tap", "3"},
                             {"bytes_to_tap", "180"},    {"first_sequence", "4"}, {"last_sequence", "10"},
                             {"sequence_breaks", "1"}};
    expect_counts(report_showing(expected), expected);
}

TEST(SimHubOutsideItsNamespace, RefusesToTouchTheNetwork) {
    tarvo::testing::TempFolder folder;
    const auto stats = folder.path() / "stats.txt";
    HubProcess hub("",
                   {"--tap", "hubtap9", "--tunnel-id", "1", "--peer", "192.0.2.1", "--stats", stats.string()},
                   false);
    ASSERT_TRUE(hub.started());
    EXPECT_EQ(hub.wait(), 3);
    EXPECT_FALSE(std::filesystem::exists(stats));
}

}  // namespace
