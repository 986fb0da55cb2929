#include "tap_l2/bridge_threads.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace tarvo {

namespace {

constexpr auto kKeepaliveStep = std::chrono::milliseconds(100);
constexpr int kKeepaliveSteps = 40;

}  // namespace

void arp_keepalive_loop(ArpKeepaliveContext context) {
    std::array<std::uint8_t, kArpKeepaliveDatagramSize> datagram{};
    const auto frame = build_arp_keepalive_frame(context.tap_mac, context.sender_ip);
    std::copy(frame.begin(), frame.end(), datagram.begin() + kEoipHeaderSize);
    while (context.running->load()) {
        build_eoip_header(std::span(datagram).first<kEoipHeaderSize>(), context.tunnel_id,
                          static_cast<std::uint16_t>(kArpKeepaliveFrameSize), *context.sequence);
        (void)context.socket->send_to(datagram, context.hub_addr);
        for (int step = 0; step < kKeepaliveSteps; ++step) {
            if (!context.running->load()) return;
            std::this_thread::sleep_for(kKeepaliveStep);
        }
    }
}

void arp_keepalive_thread_entry(ArpKeepaliveContext context) { arp_keepalive_loop(std::move(context)); }

}  // namespace tarvo
