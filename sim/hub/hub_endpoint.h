// The simulated hub's EoIP endpoint: one thread moves frames from the hub's
// TAP to the peer over GRE, one moves the peer's frames into the TAP and
// answers its empty datagrams. Both count what they see; buffers are made
// once per thread, so nothing is allocated per frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace tarvo::sim::hub {

struct HubConfig {
    std::string tap_name;
    std::uint16_t tunnel_id = 0;
    std::uint8_t peer[4] = {};
    bool bind_local = false;
    std::uint8_t local[4] = {};
    std::string stats_path;
};

// Everything the endpoint counts; written to the stats file as "name=value"
// lines in this order.
struct HubStats {
    std::atomic<std::uint64_t> reports{0};
    // From the peer.
    std::atomic<std::uint64_t> datagrams_received{0};
    std::atomic<std::uint64_t> not_eoip{0};
    std::atomic<std::uint64_t> oversized{0};
    std::atomic<std::uint64_t> foreign_source{0};
    std::atomic<std::uint64_t> other_tunnel{0};
    std::atomic<std::uint32_t> last_tunnel_id{0};     // of the last EoIP datagram from the peer
    std::atomic<std::uint64_t> without_key{0};        // 8-byte headers
    std::atomic<std::uint64_t> length_mismatches{0};  // length field other than the payload's length
    std::atomic<std::uint64_t> sequenced{0};
    std::atomic<std::uint32_t> first_sequence{0};
    std::atomic<std::uint32_t> last_sequence{0};
    std::atomic<std::uint64_t> sequence_breaks{0};  // a number other than the previous plus 1
    std::atomic<std::uint64_t> frames_to_tap{0};
    std::atomic<std::uint64_t> bytes_to_tap{0};
    std::atomic<std::uint64_t> tap_write_errors{0};
    std::atomic<std::uint64_t> arp_keepalives{0};         // broadcast ARP requests for host .2
    std::atomic<std::uint32_t> last_keepalive_sender{0};  // wire order, as read
    std::atomic<std::uint64_t> empty_received{0};
    std::atomic<std::uint64_t> answers_sent{0};
    // To the peer.
    std::atomic<std::uint64_t> frames_from_tap{0};
    std::atomic<std::uint64_t> bytes_from_tap{0};
    std::atomic<std::uint64_t> send_errors{0};
};

class HubEndpoint {
public:
    // Attaches to the TAP and opens the GRE socket; false with a reason on
    // standard error.
    bool open(const HubConfig& config);
    // The two threads run until `stop` is set; each notices it within 250 ms.
    void run_tap_to_gre(const std::atomic<bool>& stop);
    void run_gre_to_tap(const std::atomic<bool>& stop);
    // Replaces the stats file whole, so a reader never sees half of it.
    void write_stats();

    ~HubEndpoint();

private:
    HubConfig config_;
    HubStats stats_;
    std::atomic<std::uint32_t> sequence_{1};
    int tap_fd_ = -1;
    int socket_fd_ = -1;
};

}  // namespace tarvo::sim::hub
