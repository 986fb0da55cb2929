#include "drivers/tap_adapter.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <utility>

#include "platform/registry.h"
#include "text/ascii_case.h"
#include "text/unicode_text.h"

namespace tarvo {

namespace {

// No character outside ASCII lower-cases (fully, per Unicode) to text holding
// any of the characters of these ids, so folding ASCII letters compares the
// same as the Unicode lower-case mapping.
bool is_tap_component_id(std::string_view component_id) {
    return text::equal_ignoring_ascii_case(component_id, "tap0901") ||
           text::equal_ignoring_ascii_case(component_id, "root\\tap0901");
}

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The prefix length: an unsigned 32-bit decimal with one optional leading
// "+"; anything else reads as 24, and above 32 counts as 32.
std::uint32_t prefix_length(std::string_view digits) {
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return 24;
    return value > 32 ? 32 : value;
}

std::string dotted_mask(std::uint32_t length) {
    const std::uint32_t mask = length == 0 ? 0 : ~std::uint32_t{0} << (32 - length);
    return std::to_string(mask >> 24) + "." + std::to_string((mask >> 16) & 0xFF) + "." +
           std::to_string((mask >> 8) & 0xFF) + "." + std::to_string(mask & 0xFF);
}

// "a.b.c.0" (exactly four pieces) becomes "a.b.c.10"; anything else stays.
std::string host_of(std::string_view address) {
    const bool four_pieces = std::count(address.begin(), address.end(), '.') == 3;
    if (!four_pieces || !address.ends_with(".0")) return std::string(address);
    return std::string(address.substr(0, address.size() - 1)) + "10";
}

class RegistryClassKey final : public AdapterClassKey {
public:
    explicit RegistryClassKey(platform::RegistryKey key) : key_(std::move(key)) {}

    platform::RegistryKey::Subkey subkey_at(std::uint32_t index) const override {
        return key_.subkey_at(index);
    }
    std::optional<std::string> subkey_text(std::string_view subkey, std::string_view value) const override {
        const auto opened = key_.open_subkey(subkey);
        if (!opened) return std::nullopt;
        return opened->read_string(value);
    }

private:
    platform::RegistryKey key_;
};

}  // namespace

bool is_braced_guid(std::string_view text) {
    constexpr std::string_view shape = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'X' ? !is_hex_digit(text[i]) : text[i] != shape[i]) return false;
    }
    return true;
}

std::optional<std::string> find_tap_adapter_in(const AdapterClassKey& class_key) {
    using State = platform::RegistryKey::Subkey::State;
    for (std::uint32_t index = 0; index < kAdapterSubkeyLimit; ++index) {
        const auto subkey = class_key.subkey_at(index);
        if (subkey.state == State::no_more_items) return std::nullopt;
        if (subkey.state == State::unreadable) continue;
        // A subkey that cannot be opened has no ComponentId either: skipped.
        if (!is_tap_component_id(class_key.subkey_text(subkey.name, "ComponentId").value_or(""))) continue;
        auto guid = class_key.subkey_text(subkey.name, "NetCfgInstanceId");
        if (guid && is_braced_guid(*guid)) return guid;
    }
    return std::nullopt;
}

std::optional<std::string> find_tap_adapter_below(std::string_view class_key_path) {
    auto class_key = platform::open_local_machine_key(class_key_path);
    if (!class_key) return std::nullopt;
    return find_tap_adapter_in(RegistryClassKey(std::move(*class_key)));
}

std::optional<std::string> find_tap_adapter() {
    return find_tap_adapter_below(platform::kNetworkAdapterClassKey);
}

TapAddress tap_address_and_mask(std::string_view tap_ip) {
    const std::string_view trimmed = unicode::trim_white_space(tap_ip);
    const std::size_t slash = trimmed.find('/');
    if (slash == std::string_view::npos) return {std::string(trimmed), "255.255.255.0"};
    return {host_of(trimmed.substr(0, slash)), dotted_mask(prefix_length(trimmed.substr(slash + 1)))};
}

}  // namespace tarvo
