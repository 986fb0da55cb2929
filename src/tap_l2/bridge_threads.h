// The bridge's threads. Each runs its loop until it sees `running` cleared,
// then releases its context (its references to the shared cells) and ends.
// The socket and the TAP device belong to the bridge, which closes them only
// after it has joined every thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "platform/gre_socket.h"
#include "platform/tap_device.h"
#include "tap_l2/eoip.h"
#include "util/ipv4_address.h"

namespace tarvo {

using ByteCounter = std::atomic<std::uint64_t>;

// The receiver's longest wait for a datagram, also set as the socket's own
// receive time-out: a stop reaches the receiver within one such slice.
inline constexpr auto kReceiveSlice = std::chrono::milliseconds(250);

struct TapToGreContext {
    std::shared_ptr<std::atomic<bool>> running;
    std::shared_ptr<SequenceCounter> sequence;
    std::shared_ptr<ByteCounter> tx_bytes;  // frame bytes read from the TAP and handed to the socket
    platform::TapDevice* tap = nullptr;
    platform::GreSocket* socket = nullptr;
    Ipv4Address hub_addr;
    std::uint16_t tunnel_id = 0;
};

struct GreToTapContext {
    std::shared_ptr<std::atomic<bool>> running;
    std::shared_ptr<ByteCounter> rx_bytes;  // payload bytes from the hub handed to the TAP
    std::shared_ptr<SequenceCounter> sequence;
    platform::TapDevice* tap = nullptr;
    platform::GreSocket* socket = nullptr;
    Ipv4Address hub_addr;
    Ipv4Address hub_ipv4;  // the only source accepted
    std::uint16_t tunnel_id = 0;
};

struct ArpKeepaliveContext {
    std::shared_ptr<std::atomic<bool>> running;
    std::shared_ptr<SequenceCounter> sequence;
    platform::GreSocket* socket = nullptr;
    Ipv4Address hub_addr;
    Ipv4Address sender_ip;  // the TAP adapter's address, or the fallback
    MacAddress tap_mac;
    std::uint16_t tunnel_id = 0;
    // How the loop waits between its looks at the flag; tests count the steps.
    std::function<void(std::chrono::milliseconds)> sleep = [](std::chrono::milliseconds step) {
        std::this_thread::sleep_for(step);
    };
};

// Reads one frame at a time from the TAP (waiting in 250-ms slices) and sends
// it to the hub behind an EoIP header; tx_bytes counts the frame whether or
// not the send succeeded. A failed read pauses 10 ms. When the flag is
// cleared during a read, the read is cancelled and its completion awaited
// before the loop ends.
void tap_to_gre_loop(TapToGreContext context);

// Receives from the socket (each wait bounded by kReceiveSlice, whether or
// not the socket's own time-out could be set), writes each accepted frame to
// the TAP and counts it in rx_bytes whatever the write's outcome, and answers
// an empty datagram with a bare header. A write
// still pending after one 250-ms slice is cancelled and awaited, so the
// receive buffer is never reused under a pending write.
void gre_to_tap_loop(GreToTapContext context);

// Sends the ARP keepalive at once and then every 4 s (40 steps of 100 ms, in
// which a cleared flag ends the loop at once); send results are not examined.
void arp_keepalive_loop(ArpKeepaliveContext context);

void tap_to_gre_thread_entry(TapToGreContext context);
void gre_to_tap_thread_entry(GreToTapContext context);
void arp_keepalive_thread_entry(ArpKeepaliveContext context);

// Starts a joinable thread running `entry` with `context`. A thread that
// cannot be started ends the process.
template <class Context>
std::thread start_bridge_thread(void (*entry)(Context), Context context) {
    try {
        return std::thread(entry, std::move(context));
    } catch (...) {
        std::abort();
    }
}

}  // namespace tarvo
