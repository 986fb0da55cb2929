#include "config_block.h"

#include <algorithm>
#include <charconv>

#include "wg_engine/wg_config_layout.h"

namespace tarvo::standins {

namespace wl = wg_layout;

namespace {

constexpr std::uint32_t kInterfaceHasListenPort = 4;
constexpr std::uint32_t kKnownInterfaceFlags = wl::kInterfaceHasPrivateKey | kInterfaceHasListenPort |
                                               wl::kInterfaceReplacePeers;
constexpr std::uint32_t kKnownPeerFlags = wl::kPeerHasPublicKey | wl::kPeerHasPresharedKey |
                                          wl::kPeerHasPersistentKeepalive | wl::kPeerHasEndpoint |
                                          wl::kPeerReplaceAllowedIps;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t kWindowsEpochOffset = 11644473600ull;

template <std::size_t N>
std::array<std::uint8_t, N> bytes_at(std::span<const std::uint8_t> b, std::size_t at) {
    std::array<std::uint8_t, N> out{};
    std::copy_n(b.begin() + static_cast<std::ptrdiff_t>(at), N, out.begin());
    return out;
}

std::string hex(const Key& key) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : key) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

bool from_hex(std::string_view text, Key& key) {
    if (text.size() != 64) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const auto r = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, key[i], 16);
        if (r.ec != std::errc() || r.ptr != text.data() + 2 * i + 2) return false;
    }
    return true;
}

std::string dotted(const std::array<std::uint8_t, 4>& a) {
    return std::to_string(a[0]) + '.' + std::to_string(a[1]) + '.' + std::to_string(a[2]) + '.' +
           std::to_string(a[3]);
}

template <class T>
bool number(std::string_view text, T& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ipv4(std::string_view text, std::array<std::uint8_t, 4>& address) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || !number(text.substr(0, dot), address[i])) return false;
        text.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return true;
}

std::size_t peer_size(const PeerConfig& peer) {
    return wl::kPeerRecordSize + wl::kAllowedIpRecordSize * peer.allowed_ips.size();
}

}  // namespace

Expected<InterfaceConfig, std::string> read_config_block(std::span<const std::uint8_t> block) {
    if (block.size() < wl::kInterfaceRecordSize)
        return unexpected("block of " + std::to_string(block.size()) + " bytes is shorter than an interface");
    InterfaceConfig config;
    const auto flags = static_cast<std::uint32_t>(wl::get_le(block, wl::kInterfaceFlags));
    if (flags & ~kKnownInterfaceFlags) return unexpected("unknown interface flags " + std::to_string(flags));
    config.has_private_key = flags & wl::kInterfaceHasPrivateKey;
    config.private_key = bytes_at<32>(block, wl::kPrivateKey.offset);
    config.has_listen_port = flags & kInterfaceHasListenPort;
    config.listen_port = static_cast<std::uint16_t>(wl::get_le(block, wl::kListenPort));
    config.replace_peers = flags & wl::kInterfaceReplacePeers;
    const std::uint64_t peers = wl::get_le(block, wl::kPeerCount);

    std::size_t at = wl::kInterfaceRecordSize;
    for (std::uint64_t p = 0; p < peers; ++p) {
        if (block.size() - at < wl::kPeerRecordSize)
            return unexpected("peer " + std::to_string(p) + " runs past the block's end");
        const auto peer_block = block.subspan(at - wl::kInterfaceRecordSize);  // peer fields are offset by 80
        const auto peer_flags = static_cast<std::uint32_t>(wl::get_le(peer_block, wl::kPeerFlags));
        if (peer_flags & ~kKnownPeerFlags)
            return unexpected("unknown peer flags " + std::to_string(peer_flags));
        if (!(peer_flags & wl::kPeerHasPublicKey)) return unexpected("peer without a public key");
        PeerConfig peer;
        peer.public_key = bytes_at<32>(peer_block, wl::kPeerPublicKey.offset);
        peer.has_preshared_key = peer_flags & wl::kPeerHasPresharedKey;
        peer.preshared_key = bytes_at<32>(peer_block, wl::kPresharedKey.offset);
        peer.has_keepalive = peer_flags & wl::kPeerHasPersistentKeepalive;
        peer.keepalive = static_cast<std::uint16_t>(wl::get_le(peer_block, wl::kPersistentKeepalive));
        peer.has_endpoint = peer_flags & wl::kPeerHasEndpoint;
        if (peer.has_endpoint) {
            const std::size_t ep = wl::kEndpoint.offset;
            if (wl::get_le(peer_block, ep, 2) != wl::kAddressFamilyInet)
                return unexpected("endpoint is not an IPv4 socket address");
            peer.endpoint_port = static_cast<std::uint16_t>(peer_block[ep + 2] << 8 | peer_block[ep + 3]);
            peer.endpoint_address = bytes_at<4>(peer_block, ep + 4);
        }
        peer.replace_allowed_ips = peer_flags & wl::kPeerReplaceAllowedIps;
        const std::uint64_t count = wl::get_le(peer_block, wl::kAllowedIpCount);
        at += wl::kPeerRecordSize;
        if (count > (block.size() - at) / wl::kAllowedIpRecordSize)
            return unexpected("allowed IPs of peer " + std::to_string(p) + " run past the block's end");
        for (std::uint64_t i = 0; i < count; ++i, at += wl::kAllowedIpRecordSize) {
            const auto record = block.subspan(at, wl::kAllowedIpRecordSize);
            AllowedIp allowed;
            if (wl::get_le(record, wl::kAllowedFamily) != wl::kAddressFamilyInet)
                return unexpected("allowed IP " + std::to_string(i) + " is not IPv4");
            allowed.address = bytes_at<4>(record, wl::kAllowedAddress.offset);
            allowed.prefix = record[wl::kAllowedPrefix.offset];
            if (allowed.prefix > 32) return unexpected("allowed IP prefix above 32");
            peer.allowed_ips.push_back(allowed);
        }
        config.peers.push_back(std::move(peer));
    }
    if (at != block.size())
        return unexpected("block of " + std::to_string(block.size()) + " bytes where its counts give " +
                          std::to_string(at));
    return config;
}

std::vector<std::uint8_t> write_config_block(const InterfaceConfig& config) {
    std::size_t size = wl::kInterfaceRecordSize;
    for (const PeerConfig& peer : config.peers) size += peer_size(peer);
    std::vector<std::uint8_t> block(size, 0);
    const std::span<std::uint8_t> b(block);
    wl::put_le(b, wl::kInterfaceFlags,
               (config.has_private_key ? wl::kInterfaceHasPrivateKey : 0) |
                   (config.has_listen_port ? kInterfaceHasListenPort : 0));
    wl::put_le(b, wl::kListenPort, config.listen_port);
    std::copy(config.private_key.begin(), config.private_key.end(), block.begin() + wl::kPrivateKey.offset);
    wl::put_le(b, wl::kPeerCount, config.peers.size());
    std::size_t at = wl::kInterfaceRecordSize;
    for (const PeerConfig& peer : config.peers) {
        const auto p = b.subspan(at - wl::kInterfaceRecordSize);
        wl::put_le(p, wl::kPeerFlags,
                   wl::kPeerHasPublicKey | (peer.has_preshared_key ? wl::kPeerHasPresharedKey : 0) |
                       (peer.has_keepalive ? wl::kPeerHasPersistentKeepalive : 0) |
                       (peer.has_endpoint ? wl::kPeerHasEndpoint : 0));
        std::copy(peer.public_key.begin(), peer.public_key.end(), p.begin() + wl::kPeerPublicKey.offset);
        std::copy(peer.preshared_key.begin(), peer.preshared_key.end(), p.begin() + wl::kPresharedKey.offset);
        wl::put_le(p, wl::kPersistentKeepalive, peer.keepalive);
        if (peer.has_endpoint) {
            const std::size_t ep = wl::kEndpoint.offset;
            wl::put_le(p, ep, wl::kAddressFamilyInet, 2);
            p[ep + 2] = static_cast<std::uint8_t>(peer.endpoint_port >> 8);
            p[ep + 3] = static_cast<std::uint8_t>(peer.endpoint_port);
            std::copy(peer.endpoint_address.begin(), peer.endpoint_address.end(), p.begin() + ep + 4);
        }
        wl::put_le(p, wl::kTransmittedBytes, peer.transmitted);
        wl::put_le(p, wl::kReceivedBytes, peer.received);
        wl::put_le(p, wl::kLastHandshake, peer.last_handshake);
        wl::put_le(p, wl::kAllowedIpCount, peer.allowed_ips.size());
        at += wl::kPeerRecordSize;
        for (const AllowedIp& allowed : peer.allowed_ips) {
            const auto r = b.subspan(at, wl::kAllowedIpRecordSize);
            std::copy(allowed.address.begin(), allowed.address.end(), r.begin() + wl::kAllowedAddress.offset);
            wl::put_le(r, wl::kAllowedFamily, wl::kAddressFamilyInet);
            r[wl::kAllowedPrefix.offset] = allowed.prefix;
            at += wl::kAllowedIpRecordSize;
        }
    }
    return block;
}

std::string uapi_set_request(const InterfaceConfig& config) {
    std::string r = "set=1\n";
    if (config.has_private_key) r += "private_key=" + hex(config.private_key) + "\n";
    if (config.has_listen_port) r += "listen_port=" + std::to_string(config.listen_port) + "\n";
    if (config.replace_peers) r += "replace_peers=true\n";
    for (const PeerConfig& peer : config.peers) {
        r += "public_key=" + hex(peer.public_key) + "\n";
        if (peer.has_preshared_key) r += "preshared_key=" + hex(peer.preshared_key) + "\n";
        if (peer.has_endpoint)
            r += "endpoint=" + dotted(peer.endpoint_address) + ":" + std::to_string(peer.endpoint_port) +
                 "\n";
        if (peer.has_keepalive) r += "persistent_keepalive_interval=" + std::to_string(peer.keepalive) + "\n";
        if (peer.replace_allowed_ips) r += "replace_allowed_ips=true\n";
        for (const AllowedIp& a : peer.allowed_ips)
            r += "allowed_ip=" + dotted(a.address) + "/" + std::to_string(a.prefix) + "\n";
    }
    return r + "\n";
}

Expected<InterfaceConfig, std::string> read_uapi_get_reply(std::string_view reply) {
    InterfaceConfig config;
    PeerConfig* peer = nullptr;
    std::uint64_t handshake_sec = 0;
    std::uint64_t handshake_nsec = 0;
    const auto finish_handshake = [&] {
        if (peer && (handshake_sec || handshake_nsec))
            peer->last_handshake = (handshake_sec + kWindowsEpochOffset) * 10000000ull + handshake_nsec / 100;
        handshake_sec = handshake_nsec = 0;
    };
    bool ended = false;
    while (!reply.empty() && !ended) {
        const std::size_t eol = reply.find('\n');
        const std::string_view line = reply.substr(0, eol);
        reply.remove_prefix(eol == std::string_view::npos ? reply.size() : eol + 1);
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        bool ok = true;
        if (key == "errno") {
            if (value != "0") return unexpected("UAPI errno=" + std::string(value));
            ended = true;
        } else if (key == "private_key") {
            ok = from_hex(value, config.private_key);
            config.has_private_key = true;
        } else if (key == "listen_port") {
            ok = number(value, config.listen_port);
            config.has_listen_port = true;
        } else if (key == "public_key") {
            finish_handshake();
            peer = &config.peers.emplace_back();
            ok = from_hex(value, peer->public_key);
        } else if (!peer) {
            continue;  // device keys the layout has no place for (fwmark)
        } else if (key == "preshared_key") {
            ok = from_hex(value, peer->preshared_key);
            peer->has_preshared_key = peer->preshared_key != Key{};
        } else if (key == "endpoint") {
            const std::size_t colon = value.rfind(':');
            peer->has_endpoint = colon != std::string_view::npos &&
                                 ipv4(value.substr(0, colon), peer->endpoint_address) &&
                                 number(value.substr(colon + 1), peer->endpoint_port);
        } else if (key == "last_handshake_time_sec") {
            ok = number(value, handshake_sec);
        } else if (key == "last_handshake_time_nsec") {
            ok = number(value, handshake_nsec);
        } else if (key == "tx_bytes") {
            ok = number(value, peer->transmitted);
        } else if (key == "rx_bytes") {
            ok = number(value, peer->received);
        } else if (key == "persistent_keepalive_interval") {
            ok = number(value, peer->keepalive);
            peer->has_keepalive = peer->keepalive != 0;
        } else if (key == "allowed_ip") {
            const std::size_t slash = value.find('/');
            AllowedIp a;
            if (slash != std::string_view::npos && ipv4(value.substr(0, slash), a.address) &&
                number(value.substr(slash + 1), a.prefix))
                peer->allowed_ips.push_back(a);
        }
        if (!ok) return unexpected("unreadable UAPI line '" + std::string(line) + "'");
    }
    finish_handshake();
    if (!ended) return unexpected(std::string("UAPI answer without errno"));
    return config;
}

}  // namespace tarvo::standins
