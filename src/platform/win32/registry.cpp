#include "platform/registry.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace tarvo::platform {

struct RegistryKey::Impl {
    explicit Impl(HKEY key) : key(key) {}
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    ~Impl() { RegCloseKey(key); }
    HKEY key;
};

RegistryKey::RegistryKey(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;
RegistryKey::~RegistryKey() = default;

namespace {

std::optional<RegistryKey> open_key(HKEY parent, std::string_view path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, win32::to_wide(path).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    return RegistryKey(std::make_unique<RegistryKey::Impl>(key));
}

}  // namespace

RegistryKey::Subkey RegistryKey::subkey_at(std::uint32_t index) const {
    wchar_t name[2048];
    DWORD length = static_cast<DWORD>(std::size(name));
    const LSTATUS status = RegEnumKeyExW(impl_->key, index, name, &length, nullptr, nullptr, nullptr,
                                         nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return {};
    const std::wstring_view text(name, length);
    if (status != ERROR_SUCCESS || !win32::is_valid_wide(text)) return {Subkey::State::unreadable, {}};
    return {Subkey::State::found, win32::from_wide(text)};
}

std::optional<RegistryKey> RegistryKey::open_subkey(std::string_view name) const {
    return open_key(impl_->key, name);
}

std::optional<std::string> RegistryKey::read_string(std::string_view value_name) const {
    const std::wstring name = win32::to_wide(value_name);
    std::vector<wchar_t> data(128);
    while (true) {
        DWORD type = 0;
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        const LSTATUS status = RegQueryValueExW(impl_->key, name.c_str(), nullptr, &type,
                                                reinterpret_cast<BYTE*>(data.data()), &bytes);
        if (status == ERROR_MORE_DATA) {
            data.resize(bytes / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
        // Stored strings may or may not carry their terminator.
        std::wstring_view text(data.data(), bytes / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
        return win32::from_wide(text);
    }
}

std::optional<RegistryKey> open_local_machine_key(std::string_view path) {
    return open_key(HKEY_LOCAL_MACHINE, path);
}

}  // namespace tarvo::platform
