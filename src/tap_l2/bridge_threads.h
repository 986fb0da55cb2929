// The bridge's threads. Each runs its loop until it sees `running` cleared,
// then releases its context (its references to the shared cells) and ends.
// The socket and the TAP device belong to the bridge, which closes them only
// after it has joined every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

#include "platform/gre_socket.h"
#include "tap_l2/eoip.h"
#include "util/ipv4_address.h"

namespace tarvo {

struct ArpKeepaliveContext {
    std::shared_ptr<std::atomic<bool>> running;
    std::shared_ptr<SequenceCounter> sequence;
    platform::GreSocket* socket = nullptr;
    Ipv4Address hub_addr;
    Ipv4Address sender_ip;  // the TAP adapter's address, or the fallback
    MacAddress tap_mac;
    std::uint16_t tunnel_id = 0;
};

// Sends the ARP keepalive at once and then every 4 s (40 steps of 100 ms, in
// which a cleared flag ends the loop at once); send results are not examined.
void arp_keepalive_loop(ArpKeepaliveContext context);

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
