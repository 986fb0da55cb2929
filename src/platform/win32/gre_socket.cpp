// The raw GRE socket on Windows, through Winsock 2.2. Windows never sets
// don't-fragment on a raw socket's packets and reports a packet longer than
// the receive buffer as WSAEMSGSIZE, which the seam passes on.
#include "platform/gre_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace tarvo::platform {

namespace {

constexpr int kGreProtocol = 47;

sockaddr_in socket_address(const Ipv4Address& address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = 0;
    std::memcpy(&result.sin_addr, address.octets.data(), 4);
    return result;
}

OsError last_socket_error() { return os_error(WSAGetLastError()); }

class WinsockGreSocket final : public GreSocket {
public:
    explicit WinsockGreSocket(SOCKET socket) : socket_(socket) {}
    WinsockGreSocket(const WinsockGreSocket&) = delete;
    WinsockGreSocket& operator=(const WinsockGreSocket&) = delete;
    ~WinsockGreSocket() override { closesocket(socket_); }

    Status<OsError> set_receive_timeout(std::chrono::milliseconds timeout) override {
        const DWORD milliseconds = static_cast<DWORD>(timeout.count());
        if (setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
                       sizeof milliseconds) != 0) {
            return unexpected(last_socket_error());
        }
        return Unit{};
    }

    Status<OsError> bind(const Ipv4Address& local) override {
        const sockaddr_in address = socket_address(local);
        if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return unexpected(last_socket_error());
        }
        return Unit{};
    }

    Status<SocketFailure> send_to(std::span<const std::uint8_t> gre_payload,
                                  const Ipv4Address& destination) override {
        const sockaddr_in address = socket_address(destination);
        if (sendto(socket_, reinterpret_cast<const char*>(gre_payload.data()),
                   static_cast<int>(gre_payload.size()), 0, reinterpret_cast<const sockaddr*>(&address),
                   sizeof address) == SOCKET_ERROR) {
            return unexpected(SocketFailure{WSAGetLastError(), false});
        }
        return Unit{};
    }

    Expected<ReceivedPacket, SocketFailure> receive_from(std::span<std::uint8_t> buffer,
                                                         std::chrono::milliseconds wait) override {
        // select bounds the wait, not the socket's time-out, which may not
        // have taken: once it reports a packet, recvfrom returns at once (only
        // one thread receives).
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(socket_, &readable);
        timeval limit{static_cast<long>(wait.count() / 1000), static_cast<long>((wait.count() % 1000) * 1000)};
        const int ready = select(0, &readable, nullptr, nullptr, &limit);
        if (ready == SOCKET_ERROR) return unexpected(SocketFailure{WSAGetLastError(), false});
        if (ready == 0) return unexpected(SocketFailure{WSAETIMEDOUT, true});
        sockaddr_in source{};
        int source_length = sizeof source;
        const int received = recvfrom(socket_, reinterpret_cast<char*>(buffer.data()),
                                      static_cast<int>(buffer.size()), 0,
                                      reinterpret_cast<sockaddr*>(&source), &source_length);
        if (received == SOCKET_ERROR) {
            const int code = WSAGetLastError();
            return unexpected(SocketFailure{code, code == WSAETIMEDOUT});
        }
        ReceivedPacket packet;
        packet.length = static_cast<std::size_t>(received);
        std::memcpy(packet.source.octets.data(), &source.sin_addr, 4);
        return packet;
    }

private:
    SOCKET socket_;
};

}  // namespace

void start_socket_library() {
    // Started again at every bridge start and never cleaned up: Winsock
    // counts the starts, and the bridge may start many times.
    WSADATA data{};
    (void)WSAStartup(MAKEWORD(2, 2), &data);
}

Expected<std::unique_ptr<GreSocket>, OsError> open_gre_socket() {
    const SOCKET socket = ::socket(AF_INET, SOCK_RAW, kGreProtocol);
    if (socket == INVALID_SOCKET) return unexpected(last_socket_error());
    return std::unique_ptr<GreSocket>(std::make_unique<WinsockGreSocket>(socket));
}

}  // namespace tarvo::platform
