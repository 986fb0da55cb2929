#include "platform/resolver.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/os_error.h"
#include "platform/win32/wide_text.h"

namespace tarvo::platform {

namespace {

// Winsock is started once for the process and never cleaned up.
int start_winsock() {
    static const int result = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return result;
}

}  // namespace

Expected<std::vector<ResolvedAddress>, std::string> resolve_host(const std::string& host,
                                                                 std::uint16_t port) {
    if (const int rc = start_winsock(); rc != 0) return unexpected(describe(os_error(rc)));
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address
    hints.ai_flags = AI_NUMERICSERV;
    ADDRINFOW* found = nullptr;
    const std::wstring wide_host = win32::to_wide(host);
    const std::wstring service = std::to_wstring(port);
    const int rc = GetAddrInfoW(wide_host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) return unexpected(describe(os_error(rc)));
    std::vector<ResolvedAddress> addresses;
    for (const ADDRINFOW* a = found; a; a = a->ai_next) {
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
    FreeAddrInfoW(found);
    return addresses;
}

}  // namespace tarvo::platform
