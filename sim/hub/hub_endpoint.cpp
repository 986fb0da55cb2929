#include "hub_endpoint.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "hub_wire.h"

namespace tarvo::sim::hub {

namespace {

constexpr std::size_t kBufferSize = 65535;  // the largest GRE payload length: nothing is cut

sockaddr_in ipv4_socket_address(const std::uint8_t* address) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    std::memcpy(&result.sin_addr, address, 4);
    return result;
}

std::string dotted(std::uint32_t wire_order) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = wire_order;
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

// The client's keepalive: a broadcast ARP request (42 bytes) for host .2 of
// the sender's /24.
bool is_arp_keepalive(const std::uint8_t* frame, std::size_t length) {
    if (length != 42) return false;
    for (int i = 0; i < 6; ++i) {
        if (frame[i] != 0xFF) return false;
    }
    const bool arp_request = frame[12] == 0x08 && frame[13] == 0x06 && frame[20] == 0x00 && frame[21] == 0x01;
    return arp_request && std::memcmp(frame + 28, frame + 38, 3) == 0 && frame[41] == 2;
}

}  // namespace

bool HubEndpoint::open(const HubConfig& config) {
    config_ = config;
    tap_fd_ = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (tap_fd_ < 0) {
        std::perror("hub: /dev/net/tun");
        return false;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, config.tap_name.c_str(), IFNAMSIZ - 1);
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    if (::ioctl(tap_fd_, TUNSETIFF, &request) != 0) {
        std::perror("hub: TUNSETIFF");
        return false;
    }
    socket_fd_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, 47);
    if (socket_fd_ < 0) {
        std::perror("hub: raw GRE socket");
        return false;
    }
    const int dont = IP_PMTUDISC_DONT;
    (void)::setsockopt(socket_fd_, IPPROTO_IP, IP_MTU_DISCOVER, &dont, sizeof dont);
    const int receive_buffer = 4 * 1024 * 1024;
    (void)::setsockopt(socket_fd_, SOL_SOCKET, SO_RCVBUFFORCE, &receive_buffer, sizeof receive_buffer);
    const timeval timeout{0, 250000};
    (void)::setsockopt(socket_fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (config.bind_local) {
        const sockaddr_in local = ipv4_socket_address(config.local);
        if (::bind(socket_fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            std::perror("hub: bind");
            return false;
        }
    }
    return true;
}

HubEndpoint::~HubEndpoint() {
    if (tap_fd_ >= 0) ::close(tap_fd_);
    if (socket_fd_ >= 0) ::close(socket_fd_);
}

void HubEndpoint::run_tap_to_gre(const std::atomic<bool>& stop) {
    std::vector<std::uint8_t> buffer(kHubHeaderLength + kBufferSize);  // once per thread
    std::uint8_t* const datagram = buffer.data();
    const sockaddr_in peer = ipv4_socket_address(config_.peer);
    pollfd wait{tap_fd_, POLLIN, 0};
    while (!stop.load()) {
        if (::poll(&wait, 1, 250) <= 0) continue;
        const ssize_t read = ::read(tap_fd_, datagram + kHubHeaderLength, kBufferSize);
        if (read <= 0) continue;
        const auto frame_length = static_cast<std::uint16_t>(read);
        write_hub_header(datagram, frame_length, config_.tunnel_id, sequence_.fetch_add(1));
        stats_.frames_from_tap.fetch_add(1);
        stats_.bytes_from_tap.fetch_add(frame_length);
        if (::sendto(socket_fd_, datagram, kHubHeaderLength + frame_length, 0,
                     reinterpret_cast<const sockaddr*>(&peer), sizeof peer) < 0) {
            stats_.send_errors.fetch_add(1);
        }
    }
}

void HubEndpoint::run_gre_to_tap(const std::atomic<bool>& stop) {
    std::vector<std::uint8_t> buffer(kBufferSize);  // once per thread
    std::uint8_t* const packet = buffer.data();
    const sockaddr_in peer = ipv4_socket_address(config_.peer);
    bool have_sequence = false;
    std::uint32_t previous_sequence = 0;
    while (!stop.load()) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        const ssize_t received = ::recvfrom(socket_fd_, packet, buffer.size(), MSG_TRUNC,
                                            reinterpret_cast<sockaddr*>(&from), &from_length);
        if (received < 0) continue;  // time-out: look at the stop flag again
        stats_.datagrams_received.fetch_add(1);
        if (static_cast<std::size_t>(received) > buffer.size()) {
            stats_.oversized.fetch_add(1);
            continue;
        }
        const Inbound in = read_inbound(packet, static_cast<std::size_t>(received),
                                        reinterpret_cast<const std::uint8_t*>(&from.sin_addr), config_.peer,
                                        config_.tunnel_id);
        switch (in.kind) {
            case InboundKind::not_eoip: stats_.not_eoip.fetch_add(1); continue;
            case InboundKind::foreign_source: stats_.foreign_source.fetch_add(1); continue;
            case InboundKind::other_tunnel:
                stats_.other_tunnel.fetch_add(1);
                stats_.last_tunnel_id.store(in.tunnel_id);
                continue;
            case InboundKind::frame:
            case InboundKind::empty: break;
        }
        stats_.last_tunnel_id.store(in.tunnel_id);
        if (!in.keyed) stats_.without_key.fetch_add(1);
        if (in.length_field != in.payload_length) stats_.length_mismatches.fetch_add(1);
        if (in.keyed) {
            if (!have_sequence) {
                stats_.first_sequence.store(in.sequence);
            } else if (in.sequence != previous_sequence + 1) {
                stats_.sequence_breaks.fetch_add(1);
            }
            have_sequence = true;
            previous_sequence = in.sequence;
            stats_.sequenced.fetch_add(1);
            stats_.last_sequence.store(in.sequence);
        }
        if (in.kind == InboundKind::empty) {
            stats_.empty_received.fetch_add(1);
            std::uint8_t answer[kHubHeaderLength];
            write_hub_header(answer, 0, config_.tunnel_id, sequence_.fetch_add(1));
            if (::sendto(socket_fd_, answer, sizeof answer, 0, reinterpret_cast<const sockaddr*>(&peer),
                         sizeof peer) < 0) {
                stats_.send_errors.fetch_add(1);
            } else {
                stats_.answers_sent.fetch_add(1);
            }
            continue;
        }
        if (is_arp_keepalive(in.payload, in.payload_length)) {
            stats_.arp_keepalives.fetch_add(1);
            std::uint32_t sender = 0;
            std::memcpy(&sender, in.payload + 28, 4);
            stats_.last_keepalive_sender.store(sender);
        }
        stats_.frames_to_tap.fetch_add(1);
        stats_.bytes_to_tap.fetch_add(in.payload_length);
        if (::write(tap_fd_, in.payload, in.payload_length) < 0) stats_.tap_write_errors.fetch_add(1);
    }
}

void HubEndpoint::write_stats() {
    const std::string temporary = config_.stats_path + ".tmp";
    const std::uint64_t report = stats_.reports.fetch_add(1) + 1;
    {
        std::ofstream out(temporary, std::ios::trunc);
        const auto& s = stats_;
        out << "reports=" << report << "\n"
            << "tunnel_id=" << config_.tunnel_id << "\n"
            << "datagrams_received=" << s.datagrams_received << "\n"
            << "not_eoip=" << s.not_eoip << "\n"
            << "oversized=" << s.oversized << "\n"
            << "foreign_source=" << s.foreign_source << "\n"
            << "other_tunnel=" << s.other_tunnel << "\n"
            << "last_tunnel_id=" << s.last_tunnel_id << "\n"
            << "without_key=" << s.without_key << "\n"
            << "length_mismatches=" << s.length_mismatches << "\n"
            << "sequenced=" << s.sequenced << "\n"
            << "first_sequence=" << s.first_sequence << "\n"
            << "last_sequence=" << s.last_sequence << "\n"
            << "sequence_breaks=" << s.sequence_breaks << "\n"
            << "frames_to_tap=" << s.frames_to_tap << "\n"
            << "bytes_to_tap=" << s.bytes_to_tap << "\n"
            << "tap_write_errors=" << s.tap_write_errors << "\n"
            << "arp_keepalives=" << s.arp_keepalives << "\n"
            << "last_keepalive_sender=" << dotted(s.last_keepalive_sender) << "\n"
            << "empty_received=" << s.empty_received << "\n"
            << "answers_sent=" << s.answers_sent << "\n"
            << "frames_from_tap=" << s.frames_from_tap << "\n"
            << "bytes_from_tap=" << s.bytes_from_tap << "\n"
            << "send_errors=" << s.send_errors << "\n";
    }
    // The rename replaces what the path names: never let it replace anything
    // but a stats file of ours (a device such as /dev/null would become a file).
    std::error_code error;
    const auto target = std::filesystem::symlink_status(config_.stats_path, error);
    if (std::filesystem::exists(target) && !std::filesystem::is_regular_file(target)) {
        std::filesystem::remove(temporary, error);
        return;
    }
    std::rename(temporary.c_str(), config_.stats_path.c_str());
}

}  // namespace tarvo::sim::hub
