// Read access to the local machine's registry (HKEY_LOCAL_MACHINE). On POSIX
// a file-backed tree below the host root stands in for it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::platform {

class RegistryKey {
public:
    struct Impl;
    explicit RegistryKey(std::unique_ptr<Impl> impl);
    RegistryKey(RegistryKey&&) noexcept;
    RegistryKey& operator=(RegistryKey&&) noexcept;
    ~RegistryKey();

    // The name of the subkey at `index` (0, 1, ...), or nothing past the end.
    std::optional<std::string> subkey_name(std::uint32_t index) const;
    std::optional<RegistryKey> open_subkey(std::string_view name) const;
    // A string value (REG_SZ), or nothing when absent or of another type.
    std::optional<std::string> read_string(std::string_view value_name) const;

private:
    std::unique_ptr<Impl> impl_;
};

// Opens a key below HKEY_LOCAL_MACHINE for reading; `path` uses backslashes.
std::optional<RegistryKey> open_local_machine_key(std::string_view path);

}  // namespace tarvo::platform
