// One bounded TCP transfer between two network namespaces: a listener made
// in one, a connection made in the other (a socket keeps the namespace it was
// made in), every wait limited as long as a test waits for anything.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "support/network_namespaces.h"
#include "support/waiting.h"

namespace tarvo::testing {

namespace tcp_transfer_detail {

inline constexpr timeval kSocketPatience{kPatience.count(), 0};

inline int make_socket_in(const std::string& netns) {
    int fd = -1;
    run_in_namespace(netns, [&] { fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
    if (fd < 0) return -1;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kSocketPatience, sizeof kSocketPatience);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kSocketPatience, sizeof kSocketPatience);
    return fd;
}

inline sockaddr_in address_of(const std::string& dotted, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr);
    return address;
}

struct Closer {
    int fd;
    ~Closer() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace tcp_transfer_detail

// Sends `bytes` from namespace `sender_ns` to `listen_address` (a host
// address of namespace `listener_ns`); returns how many bytes the listener
// received before the sender closed (fewer on any failure or time-out).
inline std::size_t tcp_transfer(const std::string& listener_ns, const std::string& listen_address,
                                const std::string& sender_ns, std::size_t bytes) {
    using namespace tcp_transfer_detail;
    const sockaddr_in address = address_of(listen_address, 5299);
    const Closer listener{make_socket_in(listener_ns)};
    const int on = 1;
    if (listener.fd < 0 || ::setsockopt(listener.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.fd, 1) != 0)
        return 0;

    std::size_t received = 0;
    std::thread receiver([&] {
        pollfd waiting{listener.fd, POLLIN, 0};
        const auto limit = std::chrono::duration_cast<std::chrono::milliseconds>(kPatience);
        if (::poll(&waiting, 1, static_cast<int>(limit.count())) != 1) return;
        const Closer connection{::accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC)};
        if (connection.fd < 0) return;
        ::setsockopt(connection.fd, SOL_SOCKET, SO_RCVTIMEO, &kSocketPatience, sizeof kSocketPatience);
        std::vector<char> buffer(64 * 1024);
        for (ssize_t n; (n = ::recv(connection.fd, buffer.data(), buffer.size(), 0)) > 0;)
            received += static_cast<std::size_t>(n);
    });

    {
        const Closer sender{make_socket_in(sender_ns)};
        if (sender.fd >= 0 &&
            ::connect(sender.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            const std::vector<char> chunk(64 * 1024, 'x');
            for (std::size_t sent = 0; sent < bytes;) {
                const ssize_t n = ::send(sender.fd, chunk.data(), std::min(chunk.size(), bytes - sent),
                                         MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(sender.fd, SHUT_WR);
        }
    }
    receiver.join();
    return received;
}

}  // namespace tarvo::testing
