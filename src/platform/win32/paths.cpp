#include "platform/paths.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace tarvo::platform {

std::filesystem::path host_path(std::string_view windows_path) { return path_from_text(windows_path); }

std::optional<std::string> environment_variable(const char* name) {
    const std::wstring wide_name = win32::to_wide(name);
    std::wstring value(64, L'\0');
    while (true) {
        SetLastError(ERROR_SUCCESS);
        const DWORD needed = GetEnvironmentVariableW(wide_name.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (needed == 0) {
            // Zero is both "not set" and "set to the empty text".
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (needed < value.size()) {
            value.resize(needed);
            break;
        }
        value.resize(needed);  // too small: `needed` counts the terminator
    }
    if (!win32::is_valid_wide(value)) return std::nullopt;
    return win32::from_wide(value);
}

std::optional<std::filesystem::path> own_executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::nullopt;
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        // A truncated name fills the buffer exactly: try again with more room.
        if (buffer.size() >= 32768) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::string path_text(const std::filesystem::path& path) { return win32::from_wide(path.native()); }

std::filesystem::path path_from_text(std::string_view utf8) {
    return std::filesystem::path(win32::to_wide(utf8));
}

}  // namespace tarvo::platform
