// Where the process finds libraries: System32 only for anything named without
// a full path, and a library loaded by full path finds its dependencies
// beside it and in System32, never in the program's own folder (the
// program-data folder, for the installed copy) or the current folder.
// Tests replace the calls to see their order and flags.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <mutex>

#include "platform/library.h"

namespace tarvo::platform::win32 {

inline constexpr DWORD kSystemFolderOnly = LOAD_LIBRARY_SEARCH_SYSTEM32;
inline constexpr DWORD kBesideItAndSystemFolder = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

struct LoaderCalls {
    std::function<BOOL(DWORD flags)> set_default_dll_directories;
    std::function<HMODULE(const wchar_t* path, DWORD flags)> load_library_ex;
};

class LibraryLoader {
public:
    explicit LibraryLoader(LoaderCalls calls) : calls_(std::move(calls)) {}

    // SetDefaultDllDirectories(System32 only), once for the process.
    void restrict_search();
    // restrict_search(), then LoadLibraryExW of the full path.
    Expected<LibraryHandle, OsError> load(const std::filesystem::path& path);

private:
    LoaderCalls calls_;
    std::once_flag restricted_;
};

// The process's own, over the real calls.
LibraryLoader& process_library_loader();

}  // namespace tarvo::platform::win32
