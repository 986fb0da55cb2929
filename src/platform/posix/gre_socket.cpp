// The raw GRE socket on Linux. Two settings make it behave as the Windows
// one does: IP_PMTUDISC_DONT, so a frame larger than the path is fragmented
// and never refused or marked don't-fragment; and a large receive buffer, as
// a busy bridge otherwise loses packets between two receives.
#include "platform/gre_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/posix/owned_fd.h"

namespace tarvo::platform {

namespace {

constexpr int kGreProtocol = 47;
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

sockaddr_in socket_address(const Ipv4Address& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = 0;
    std::memcpy(&result.sin_addr, address.octets.data(), 4);
    return result;
}

class PosixGreSocket final : public GreSocket {
public:
    explicit PosixGreSocket(OwnedFd fd) : owned_(std::move(fd)), fd_(owned_.get()) {}

    Status<OsError> set_receive_timeout(std::chrono::milliseconds timeout) override {
        timeval value{};
        value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
        value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
        if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) != 0)
            return unexpected(last_os_error());
        return Unit{};
    }

    Status<OsError> bind(const Ipv4Address& local) override {
        const sockaddr_in address = socket_address(local);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return unexpected(last_os_error());
        }
        return Unit{};
    }

    Status<SocketFailure> send_to(std::span<const std::uint8_t> gre_payload,
                                  const Ipv4Address& destination) override {
        const sockaddr_in address = socket_address(destination);
        if (::sendto(fd_, gre_payload.data(), gre_payload.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
            return unexpected(SocketFailure{errno, false});
        }
        return Unit{};
    }

    Expected<ReceivedPacket, SocketFailure> receive_from(std::span<std::uint8_t> buffer,
                                                         std::chrono::milliseconds wait) override {
        // The wait is poll's, not the socket's time-out, and the receive
        // itself never blocks: nothing can hold the caller past `wait`.
        pollfd readable{fd_, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(wait.count()));
        if (ready < 0) {
            const int code = errno;
            return unexpected(SocketFailure{code, code == EINTR});  // a signal: as if nothing came
        }
        if (ready == 0) return unexpected(SocketFailure{EAGAIN, true});
        sockaddr_in source{};
        socklen_t source_length = sizeof source;
        // MSG_TRUNC makes the call return the packet's real length, so an
        // oversized packet is seen as such rather than cut to a wrong frame.
        const ssize_t received = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT,
                                            reinterpret_cast<sockaddr*>(&source), &source_length);
        if (received < 0) {
            const int code = errno;
            return unexpected(SocketFailure{code, code == EAGAIN || code == EWOULDBLOCK});
        }
        if (static_cast<std::size_t>(received) > buffer.size())
            return unexpected(SocketFailure{EMSGSIZE, false});
        ReceivedPacket packet;
        packet.length = static_cast<std::size_t>(received);
        std::memcpy(packet.source.octets.data(), &source.sin_addr, 4);
        return packet;
    }

private:
    OwnedFd owned_;
    int fd_;
};

}  // namespace

void start_socket_library() {}

Expected<std::unique_ptr<GreSocket>, OsError> open_gre_socket() {
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, kGreProtocol);
    if (fd < 0) return unexpected(last_os_error());
    auto socket = std::make_unique<PosixGreSocket>(OwnedFd(fd));
    const int dont_fragment_never = IP_PMTUDISC_DONT;
    if (::setsockopt(fd, IPPROTO_IP, IP_MTU_DISCOVER, &dont_fragment_never, sizeof dont_fragment_never) !=
        0) {
        return unexpected(last_os_error());
    }
    // Past the system's limit with the network administration right; the
    // ordinary option (capped by the limit) otherwise. Best effort either way.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0) {
        (void)::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    }
    return std::unique_ptr<GreSocket>(std::move(socket));
}

}  // namespace tarvo::platform
