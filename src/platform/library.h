// Loads a shared library by path and looks up its entry points. A loaded
// library is never unloaded, so entry points stay callable for the life of
// the process.
#pragma once

#include <filesystem>

#include "platform/admin_folder.h"
#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

struct LibraryHandle {
    void* native = nullptr;
};

// Makes libraries loaded later without a full path (and the dependencies of
// every library) come from the system folder only, never from the program's
// own folder or the current folder. Windows: for the rest of the process;
// POSIX has no such search and does nothing. The program calls it first.
void restrict_library_search();

// Loads the library at the full path `path`; its dependencies are looked for
// beside it and in the system folder only (Windows).
Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path);

// Loads the library that `file` holds, which lies at `path`: the held file
// cannot change under the load (Windows), or the load goes through it (POSIX).
Expected<LibraryHandle, OsError> load_held_library(const HeldFile& file, const std::filesystem::path& path);

// The entry point's address, or nullptr when the library does not export it.
void* library_symbol(LibraryHandle library, const char* name);

}  // namespace tarvo::platform
