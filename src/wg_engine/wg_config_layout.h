// The configuration layout WireGuard-NT publishes for WireGuardSetConfiguration
// and WireGuardGetConfiguration: one interface record, one peer record, then
// that peer's allowed-IP records. Offsets are from the start of the block;
// integers are little-endian. The compile-time checks below make sure the
// fields of each record follow one another without hole or overlap and that
// every integer sits on its natural alignment, as the driver's C structs do.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace tarvo::wg_layout {

struct Field {
    std::size_t offset;
    std::size_t size;
    constexpr std::size_t end() const { return offset + size; }
};

// Interface record.
inline constexpr Field kInterfaceFlags{0, 4};
inline constexpr Field kListenPort{4, 2};
inline constexpr Field kPrivateKey{6, 32};
inline constexpr Field kInterfacePublicKey{38, 32};
inline constexpr Field kInterfaceGap{70, 2};
inline constexpr Field kPeerCount{72, 4};
inline constexpr Field kInterfaceTailGap{76, 4};
inline constexpr std::size_t kInterfaceRecordSize = 80;

// Peer record, right after the interface record.
inline constexpr Field kPeerFlags{80, 4};
inline constexpr Field kPeerReserved{84, 4};
inline constexpr Field kPeerPublicKey{88, 32};
inline constexpr Field kPresharedKey{120, 32};
inline constexpr Field kPersistentKeepalive{152, 2};
inline constexpr Field kPeerGap{154, 2};
inline constexpr Field kEndpoint{156, 28};
inline constexpr Field kTransmittedBytes{184, 8};
inline constexpr Field kReceivedBytes{192, 8};
inline constexpr Field kLastHandshake{200, 8};
inline constexpr Field kAllowedIpCount{208, 4};
inline constexpr Field kPeerTailGap{212, 4};
inline constexpr std::size_t kPeerRecordSize = 136;

// The endpoint is a Windows socket-address union; an AF_INET address fills
// its first 8 bytes (relative to kEndpoint).
inline constexpr Field kEndpointFamily{0, 2};
inline constexpr Field kEndpointPort{2, 2};  // network byte order
inline constexpr Field kEndpointAddress{4, 4};
inline constexpr Field kEndpointZero{8, 20};

// Allowed-IP record i starts at kHeaderSize + kAllowedIpRecordSize * i.
inline constexpr Field kAllowedAddress{0, 16};
inline constexpr Field kAllowedFamily{16, 2};
inline constexpr Field kAllowedPrefix{18, 1};
inline constexpr Field kAllowedGap{19, 5};
inline constexpr std::size_t kAllowedIpRecordSize = 24;

inline constexpr std::size_t kHeaderSize = kInterfaceRecordSize + kPeerRecordSize;

inline constexpr std::size_t block_size(std::size_t allowed_ips) {
    return kHeaderSize + kAllowedIpRecordSize * allowed_ips;
}

inline constexpr std::uint32_t kInterfaceHasPrivateKey = 2;
inline constexpr std::uint32_t kInterfaceReplacePeers = 8;
inline constexpr std::uint32_t kPeerHasPublicKey = 1;
inline constexpr std::uint32_t kPeerHasPresharedKey = 2;
inline constexpr std::uint32_t kPeerHasPersistentKeepalive = 4;
inline constexpr std::uint32_t kPeerHasEndpoint = 8;
inline constexpr std::uint32_t kPeerReplaceAllowedIps = 32;
inline constexpr std::uint16_t kAddressFamilyInet = 2;

// True when `fields` cover [begin, end) exactly, in order.
constexpr bool tiles(std::initializer_list<Field> fields, std::size_t begin, std::size_t end) {
    std::size_t at = begin;
    for (const Field& f : fields) {
        if (f.offset != at || f.size == 0) return false;
        at = f.end();
    }
    return at == end;
}

// True when every field of an integer size (2, 4 or 8) is aligned to it.
constexpr bool integers_aligned(std::initializer_list<Field> fields) {
    for (const Field& f : fields)
        if (f.offset % f.size != 0) return false;
    return true;
}

static_assert(tiles({kInterfaceFlags, kListenPort, kPrivateKey, kInterfacePublicKey, kInterfaceGap,
                     kPeerCount, kInterfaceTailGap},
                    0, kInterfaceRecordSize));
static_assert(tiles({kPeerFlags, kPeerReserved, kPeerPublicKey, kPresharedKey, kPersistentKeepalive, kPeerGap,
                     kEndpoint, kTransmittedBytes, kReceivedBytes, kLastHandshake, kAllowedIpCount,
                     kPeerTailGap},
                    kInterfaceRecordSize, kHeaderSize));
static_assert(tiles({kEndpointFamily, kEndpointPort, kEndpointAddress, kEndpointZero}, 0, kEndpoint.size));
static_assert(tiles({kAllowedAddress, kAllowedFamily, kAllowedPrefix, kAllowedGap}, 0, kAllowedIpRecordSize));
static_assert(integers_aligned({kInterfaceFlags, kListenPort, kPeerCount, kPeerFlags, kPeerReserved,
                                kPersistentKeepalive, kTransmittedBytes, kReceivedBytes, kLastHandshake,
                                kAllowedIpCount, kAllowedFamily}));
// The union holds a sockaddr_in6 as well, so it is 4-byte aligned; the records
// follow one another on 8-byte boundaries.
static_assert(kEndpoint.offset % 4 == 0);
static_assert(kInterfaceRecordSize % 8 == 0 && kPeerRecordSize % 8 == 0 && kAllowedIpRecordSize % 8 == 0);
static_assert(block_size(2) == 264);

// Little-endian integers at `at` (offset into `bytes`); the caller has
// checked that the field lies inside the buffer.
inline void put_le(std::span<std::uint8_t> bytes, std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint64_t get_le(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value |= std::uint64_t{bytes[at + i]} << (8 * i);
    return value;
}

inline void put_le(std::span<std::uint8_t> bytes, Field field, std::uint64_t value) {
    put_le(bytes, field.offset, value, field.size);
}

inline std::uint64_t get_le(std::span<const std::uint8_t> bytes, Field field) {
    return get_le(bytes, field.offset, field.size);
}

}  // namespace tarvo::wg_layout
