#include "platform/os_error.h"

#include <windows.h>
#include <winhttp.h>

#include "platform/win32/wide_text.h"

namespace tarvo::platform {

namespace {

// WinHTTP keeps the texts of its own errors in its module, not in the
// system's message table.
HMODULE message_module(DWORD code) {
    const bool winhttp = code >= WINHTTP_ERROR_BASE && code < WINHTTP_ERROR_BASE + 1000;
    return winhttp ? GetModuleHandleW(L"winhttp.dll") : nullptr;
}

}  // namespace

OsError os_error(int code) {
    const DWORD error = static_cast<DWORD>(code);
    const HMODULE module = message_module(error);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    if (module) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(flags, module, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0,
                                        nullptr);
    if (length == 0 || buffer == nullptr) return {code, "Unknown system error"};
    std::wstring_view text(buffer, length);
    // The system's messages end with a line break; the client embeds them in one line.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.remove_suffix(1);
    }
    OsError error_text{code, win32::from_wide(text)};
    LocalFree(buffer);
    return error_text;
}

OsError last_os_error() { return os_error(static_cast<int>(GetLastError())); }

}  // namespace tarvo::platform
