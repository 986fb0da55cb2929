#include "platform/resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/os_error.h"

namespace tarvo::platform {

Expected<std::vector<ResolvedAddress>, std::string> resolve_host(const std::string& host,
                                                                 std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc == EAI_SYSTEM) return unexpected(describe(last_os_error()));
    if (rc != 0) return unexpected(std::string(::gai_strerror(rc)));
    std::vector<ResolvedAddress> addresses;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        ResolvedAddress r;
        if (a->ai_family == AF_INET) {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            r.is_ipv4 = true;
            std::memcpy(r.address.data(), &in->sin_addr, 4);
            r.port = ntohs(in->sin_port);
        } else if (a->ai_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            std::memcpy(r.address.data(), &in6->sin6_addr, 16);
            r.port = ntohs(in6->sin6_port);
        } else {
            continue;
        }
        addresses.push_back(r);
    }
    ::freeaddrinfo(found);
    return addresses;
}

}  // namespace tarvo::platform
