#include "wg_engine/wg_config_block.h"

#include <algorithm>

#include "wg_engine/wg_config_layout.h"

namespace tarvo {

namespace wl = wg_layout;

namespace {

template <std::size_t N>
void put_bytes(std::span<std::uint8_t> block, std::size_t at, const std::array<std::uint8_t, N>& bytes) {
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

std::vector<std::uint8_t> build_wg_config_block(const WgKey& private_key, const WgKey& hub_key,
                                                const WgEndpoint& endpoint,
                                                std::span<const Ipv4Cidr> allowed_ips) {
    std::vector<std::uint8_t> block(wl::block_size(allowed_ips.size()),
                                    0);  // gaps and unset fields stay zero
    const std::span<std::uint8_t> b(block);

    wl::put_le(b, wl::kInterfaceFlags, wl::kInterfaceHasPrivateKey | wl::kInterfaceReplacePeers);
    wl::put_le(b, wl::kListenPort, 0);
    put_bytes(b, wl::kPrivateKey.offset, private_key);
    wl::put_le(b, wl::kPeerCount, 1);

    wl::put_le(b, wl::kPeerFlags,
               wl::kPeerHasPublicKey | wl::kPeerHasPersistentKeepalive | wl::kPeerHasEndpoint |
                   wl::kPeerReplaceAllowedIps);
    put_bytes(b, wl::kPeerPublicKey.offset, hub_key);
    wl::put_le(b, wl::kPersistentKeepalive, kPersistentKeepaliveSeconds);
    const std::size_t ep = wl::kEndpoint.offset;
    wl::put_le(b, ep + wl::kEndpointFamily.offset, wl::kAddressFamilyInet, wl::kEndpointFamily.size);
    b[ep + wl::kEndpointPort.offset] = static_cast<std::uint8_t>(endpoint.port >> 8);  // network byte order
    b[ep + wl::kEndpointPort.offset + 1] = static_cast<std::uint8_t>(endpoint.port);
    put_bytes(b, ep + wl::kEndpointAddress.offset, endpoint.address);
    wl::put_le(b, wl::kAllowedIpCount, allowed_ips.size());

    for (std::size_t i = 0; i < allowed_ips.size(); ++i) {
        const std::size_t record = wl::kHeaderSize + wl::kAllowedIpRecordSize * i;
        put_bytes(b, record + wl::kAllowedAddress.offset, allowed_ips[i].network);
        wl::put_le(b, record + wl::kAllowedFamily.offset, wl::kAddressFamilyInet, wl::kAllowedFamily.size);
        b[record + wl::kAllowedPrefix.offset] = allowed_ips[i].prefix;
    }
    return block;
}

std::optional<WgPeerTraffic> read_first_peer_traffic(std::span<const std::uint8_t> block) {
    if (block.size() < wl::kHeaderSize) return std::nullopt;
    return WgPeerTraffic{wl::get_le(block, wl::kTransmittedBytes), wl::get_le(block, wl::kReceivedBytes)};
}

}  // namespace tarvo
