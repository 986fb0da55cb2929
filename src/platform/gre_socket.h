// A raw IPv4 socket of protocol 47 (GRE), as the L2 bridge uses it: the host
// builds the IPv4 header of what is sent, and a receive delivers the whole
// IPv4 packet with its source address. Every such socket sees every GRE
// packet addressed to it (to any local address when unbound), so the caller
// filters by source and tunnel.
//
// One thread may receive while others send on the same socket. Closing (the
// destructor) must wait until no thread uses the socket any more.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/os_error.h"
#include "util/expected.h"
#include "util/ipv4_address.h"

namespace tarvo::platform {

struct ReceivedPacket {
    std::size_t length = 0;  // bytes of the whole IPv4 packet placed in the buffer
    Ipv4Address source;
};

// A failed send or receive: the system's error code only, so that a busy
// bridge builds no text per frame. A packet longer than the receive buffer is
// a failure too (Winsock's WSAEMSGSIZE; the POSIX side reports it the same
// way instead of truncating a frame).
struct SocketFailure {
    int code = 0;
    bool timed_out = false;  // the receive time-out passed with nothing to read
};

class GreSocket {
public:
    virtual ~GreSocket() = default;

    // The socket's own receive time-out (best effort: a receive is bounded by
    // its `wait` whether or not this took effect).
    virtual Status<OsError> set_receive_timeout(std::chrono::milliseconds timeout) = 0;
    // Binds to a local address with port 0.
    virtual Status<OsError> bind(const Ipv4Address& local) = 0;
    // Sends one GRE payload (header and frame) in one IPv4 packet, or in
    // fragments when it does not fit the path: don't-fragment is never set.
    virtual Status<SocketFailure> send_to(std::span<const std::uint8_t> gre_payload,
                                          const Ipv4Address& destination) = 0;
    // Waits up to `wait` for one packet, and never longer, so a thread that
    // receives in a loop sees its stop flag even where the socket's time-out
    // could not be set. Nothing in time is a failure with `timed_out`.
    virtual Expected<ReceivedPacket, SocketFailure> receive_from(std::span<std::uint8_t> buffer,
                                                                 std::chrono::milliseconds wait) = 0;
};

// Readies the system's socket library (Winsock 2.2 on Windows; nothing to do
// elsewhere). Called at every bridge start and never undone.
void start_socket_library();

// A new socket(AF_INET, SOCK_RAW, 47).
Expected<std::unique_ptr<GreSocket>, OsError> open_gre_socket();

}  // namespace tarvo::platform
