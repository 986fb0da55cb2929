#include "platform/library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

namespace tarvo::platform {

namespace {

Expected<LibraryHandle, OsError> open_library(const char* name) {
    // Never closed: entry points handed out stay valid for the process's life.
    void* handle = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return unexpected(OsError{ENOEXEC, why ? why : "cannot load library"});
    }
    return LibraryHandle{handle};
}

}  // namespace

void restrict_library_search() {}

Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return unexpected(last_os_error());
    return open_library(path.c_str());
}

Expected<LibraryHandle, OsError> load_held_library(const HeldFile& file, const std::filesystem::path& path) {
    // The open file itself, not whatever the path names by now.
    const std::string self = "/proc/self/fd/" + std::to_string(file.native());
    struct stat info {};
    if (::stat(self.c_str(), &info) != 0) return load_library(path);  // no /proc
    return open_library(self.c_str());
}

void* library_symbol(LibraryHandle library, const char* name) {
    if (!library.native) return nullptr;
    return ::dlsym(library.native, name);
}

}  // namespace tarvo::platform
