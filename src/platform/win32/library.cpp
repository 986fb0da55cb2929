#include "platform/library.h"

#include <windows.h>

#include <cstdint>

namespace tarvo::platform {

Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (module == nullptr) return unexpected(last_os_error());
    return LibraryHandle{module};  // never freed: entry points stay valid
}

void* library_symbol(LibraryHandle library, const char* name) {
    const FARPROC entry = GetProcAddress(static_cast<HMODULE>(library.native), name);
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(entry));
}

}  // namespace tarvo::platform
