// The persisted settings and their file client.json.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo {

struct ClientConfig {
    std::string DeviceCode;
    bool AutoConnect = true;
    bool ForceL3 = false;

    friend bool operator==(const ClientConfig&, const ClientConfig&) = default;
};

// <APPDATA>\TARVO\client.json; C:\ProgramData\TARVO stands in for APPDATA
// when the variable is not set or not valid Unicode. Computed at every call.
std::filesystem::path client_config_path();
std::filesystem::path client_config_path_for(const std::optional<std::string>& appdata);

// The settings in the file, or all three defaults when the file is missing,
// unreadable, not UTF-8 or not exactly the expected JSON.
ClientConfig load_client_config();
ClientConfig load_client_config_from(const std::filesystem::path& file);

// The file's settings from its text, or nothing when the text is refused.
std::optional<ClientConfig> parse_client_config(std::string_view text);

// The exact bytes of client.json: two-space indent, LF, no final line break.
std::string serialize_client_config(const ClientConfig& config);

// Writes client.json whole; errors are ignored. The bytes go to a temporary
// file in the same folder that then replaces client.json, so a failed write
// never destroys the stored settings.
void save_client_config(const ClientConfig& config);
bool save_client_config_to(const std::filesystem::path& file, const ClientConfig& config);

}  // namespace tarvo
