// The orchestrator's sync answer, its hub and its project links, as plain
// values. Field order is the wire order of the records' array form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {

struct HubInfo {
    std::string endpoint;           // "host:port" of the hub's WireGuard
    std::string server_public_key;  // Base64
    std::string hub_wg_ip;          // the hub's tunnel address

    friend bool operator==(const HubInfo&, const HubInfo&) = default;
};

struct LinkInfo {
    std::int32_t id = 0;
    std::int32_t source_id = 0;
    std::int32_t target_id = 0;
    std::string mode;  // "L3", "L2", "LAN"; compared exactly
    std::string src_subnet;
    std::string dst_subnet;
    std::int32_t tunnel_id = 0;
    std::optional<std::string> hub_ip;
    std::optional<std::string> tap_ip;

    friend bool operator==(const LinkInfo&, const LinkInfo&) = default;
};

struct BootstrapResult {
    std::optional<std::string> status;
    std::optional<std::string> device_code;
    std::optional<std::string> pass_code;
    std::optional<std::int32_t> pass_hours;
    std::optional<std::string> pass_expires_at;
    std::optional<std::string> pass_status;
    std::int32_t node_id = 0;
    std::string name;
    std::string node_type;
    std::int32_t project_id = 0;
    std::optional<std::string> owner;
    std::string wg_ip;
    std::string local_subnet;
    std::int32_t tunnel_id = 0;
    std::optional<std::string> hub_ip;
    std::optional<std::string> tap_ip;
    std::string private_key;
    std::optional<std::string> public_key;
    std::optional<HubInfo> hub;
    std::vector<LinkInfo> links;
    bool project_enabled = false;
    bool owner_active = false;
    bool allow_orchestrator = false;
    bool allow_l3 = false;
    bool allow_l2 = false;
    bool has_link = false;
    bool has_l2_link = false;
    std::optional<std::string> reason;
    std::optional<std::string> state_label;
    bool online = false;
    std::optional<std::int32_t> peer_age_seconds;

    friend bool operator==(const BootstrapResult&, const BootstrapResult&) = default;
};

}  // namespace tarvo
