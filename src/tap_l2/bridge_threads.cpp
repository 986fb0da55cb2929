#include "tap_l2/bridge_threads.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

namespace tarvo {

namespace {

constexpr auto kKeepaliveStep = std::chrono::milliseconds(100);
constexpr int kKeepaliveSteps = 40;
constexpr auto kTapWaitSlice = std::chrono::milliseconds(250);
constexpr auto kFailedReadPause = std::chrono::milliseconds(10);

using TapResult = platform::TapTransfer::Result;
using TapState = platform::TapTransfer::State;

// Waits for a pending read in slices. When the flag is cleared meanwhile,
// cancels the read and waits for it to complete; none: leave the loop.
std::optional<TapResult> wait_for_read(platform::TapTransfer& transfer, TapResult result,
                                       const std::atomic<bool>& running) {
    while (result.state == TapState::pending) {
        if (!running.load()) {
            (void)transfer.cancel_and_wait();
            return std::nullopt;
        }
        result = transfer.wait(kTapWaitSlice);
    }
    return result;
}

}  // namespace

void tap_to_gre_loop(TapToGreContext context) {
    const auto transfer = context.tap->new_transfer();
    // The frame is read straight in behind the header's room, so it leaves
    // in one send without a copy.
    std::array<std::uint8_t, kFrameDatagramCapacity> datagram{};
    const auto frame_area = std::span(datagram).subspan<kEoipHeaderSize, kMaxFrameSize>();
    while (context.running->load()) {
        const TapResult started = transfer->start_read(frame_area);
        if (started.state == TapState::failed) {
            std::this_thread::sleep_for(kFailedReadPause);
            continue;
        }
        const auto read = wait_for_read(*transfer, started, *context.running);
        if (!read) break;
        if (read->state != TapState::completed) continue;
        const std::size_t length = frame_datagram(datagram, read->bytes, context.tunnel_id,
                                                  *context.sequence);
        if (length == 0) continue;
        (void)context.socket->send_to(std::span(datagram).first(length), context.hub_addr);
        context.tx_bytes->fetch_add(read->bytes);
    }
}

void gre_to_tap_loop(GreToTapContext context) {
    const auto transfer = context.tap->new_transfer();
    std::array<std::uint8_t, kMaxFrameSize> packet{};
    while (context.running->load()) {
        const auto received = context.socket->receive_from(packet, kReceiveSlice);
        if (!received) continue;  // a time-out or a failure: test the flag again
        const auto payload = accept_datagram(std::span(packet).first(received->length), received->source,
                                             context.hub_ipv4, context.tunnel_id);
        if (!payload) continue;
        if (payload->empty()) {
            const auto answer = build_keepalive_answer(context.tunnel_id, *context.sequence);
            (void)context.socket->send_to(answer, context.hub_addr);
            continue;
        }
        TapResult written = transfer->start_write(*payload);
        if (written.state == TapState::pending) written = transfer->wait(kTapWaitSlice);
        if (written.state == TapState::pending) (void)transfer->cancel_and_wait();
        context.rx_bytes->fetch_add(payload->size());
    }
}

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
            context.sleep(kKeepaliveStep);
        }
    }
}

void tap_to_gre_thread_entry(TapToGreContext context) { tap_to_gre_loop(std::move(context)); }

void gre_to_tap_thread_entry(GreToTapContext context) { gre_to_tap_loop(std::move(context)); }

void arp_keepalive_thread_entry(ArpKeepaliveContext context) { arp_keepalive_loop(std::move(context)); }

}  // namespace tarvo
