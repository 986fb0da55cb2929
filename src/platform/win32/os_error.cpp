#include "platform/os_error.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace tarvo::platform {

OsError os_error(int code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return {code, "Unknown system error"};
    std::wstring_view text(buffer, length);
    // The system's messages end with a line break; the client embeds them in one line.
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.remove_suffix(1);
    OsError error{code, win32::from_wide(text)};
    LocalFree(buffer);
    return error;
}

OsError last_os_error() { return os_error(static_cast<int>(GetLastError())); }

}  // namespace tarvo::platform
