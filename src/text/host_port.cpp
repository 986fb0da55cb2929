#include "text/host_port.h"

namespace tarvo::text {

Expected<HostAndPort, std::string> split_host_port(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
        return unexpected(std::string("nieprawidłowy adres gniazda: brak portu"));
    std::string_view host = text.substr(0, colon);
    const std::string_view port_text = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    unsigned port = 0;
    bool valid = !port_text.empty() && port_text.size() <= 5;
    for (const char c : port_text) {
        if (c < '0' || c > '9') valid = false;
        else port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (!valid || port > 65535)
        return unexpected("nieprawidłowy numer portu '" + std::string(port_text) + "'");
    return HostAndPort{std::string(host), static_cast<std::uint16_t>(port)};
}

}  // namespace tarvo::text
