// Read access to the local machine's registry (HKEY_LOCAL_MACHINE). On POSIX
// a file-backed tree below the host root stands in for it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::platform {

// The class key of network adapters; each subkey is one adapter instance.
inline constexpr std::string_view kNetworkAdapterClassKey =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

class RegistryKey {
public:
    struct Impl;
    explicit RegistryKey(std::unique_ptr<Impl> impl);
    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;
    ~RegistryKey();

    // The subkey at `index` (0, 1, ...). An index whose name cannot be read,
    // or is not valid Unicode, is `unreadable`: the next index may still be.
    struct Subkey {
        enum class State { found, unreadable, no_more_items };
        State state = State::no_more_items;
        std::string name;  // set when found
    };
    Subkey subkey_at(std::uint32_t index) const;
    std::optional<RegistryKey> open_subkey(std::string_view name) const;
    // A string value (REG_SZ), or nothing when absent or of another type.
    std::optional<std::string> read_string(std::string_view value_name) const;

private:
    std::unique_ptr<Impl> impl_;
};

// Opens a key below HKEY_LOCAL_MACHINE for reading; `path` uses backslashes.
std::optional<RegistryKey> open_local_machine_key(std::string_view path);

}  // namespace tarvo::platform
