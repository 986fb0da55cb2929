#include "platform/library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>

namespace tarvo::platform {

Expected<LibraryHandle, OsError> load_library(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return unexpected(last_os_error());
    // Never closed: entry points handed out stay valid for the process's life.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return unexpected(OsError{ENOEXEC, why ? why : "cannot load library"});
    }
    return LibraryHandle{handle};
}

void* library_symbol(LibraryHandle library, const char* name) {
    if (!library.native) return nullptr;
    return ::dlsym(library.native, name);
}

}  // namespace tarvo::platform
