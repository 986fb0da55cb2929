#include "platform/library.h"

#include <cstdint>

#include "platform/win32/library_loader.h"

namespace tarvo::platform {

namespace win32 {

void LibraryLoader::restrict_search() {
    std::call_once(restricted_, [&] { (void)calls_.set_default_dll_directories(kSystemFolderOnly); });
}

Expected<LibraryHandle, OsError> LibraryLoader::load(const std::filesystem::path& path) {
    restrict_search();
    HMODULE module = calls_.load_library_ex(path.c_str(), kBesideItAndSystemFolder);
    if (module == nullptr) return unexpected(last_os_error());
    return LibraryHandle{module};  // never freed: entry points stay valid
}

LibraryLoader& process_library_loader() {
    static LibraryLoader loader({
        [](DWORD flags) { return SetDefaultDllDirectories(flags); },
        [](const wchar_t* path, DWORD flags) { return LoadLibraryExW(path, nullptr, flags); },
    });
    return loader;
}

}  // namespace win32

void restrict_library_search() { win32::process_library_loader().restrict_search(); }

Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path) {
    return win32::process_library_loader().load(path);
}

// The held file cannot be replaced or moved while the path is loaded.
Expected<LibraryHandle, OsError> load_held_library(const HeldFile&, const std::filesystem::path& path) {
    return load_library(path);
}

void* library_symbol(LibraryHandle library, const char* name) {
    const FARPROC entry = GetProcAddress(static_cast<HMODULE>(library.native), name);
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(entry));
}

}  // namespace tarvo::platform
