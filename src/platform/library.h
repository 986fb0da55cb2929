// Loads a shared library by path and looks up its entry points. A loaded
// library is never unloaded, so entry points stay callable for the life of
// the process.
#pragma once

#include <filesystem>

#include "platform/os_error.h"
#include "util/expected.h"

namespace tarvo::platform {

struct LibraryHandle {
    void* native = nullptr;
};

Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path);

// The entry point's address, or nullptr when the library does not export it.
void* library_symbol(LibraryHandle library, const char* name);

}  // namespace tarvo::platform
