#include "platform/files.h"

#include <sys/stat.h>

#include <cstdio>
#include <system_error>

namespace tarvo::platform {

Status<OsError> create_directories(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // libstdc++ reports an existing non-folder as success with no folder made.
    if (!ec && !std::filesystem::is_directory(folder, ec) && !ec) return unexpected(os_error(ENOTDIR));
    if (ec) return unexpected(os_error(ec.value()));
    return Unit{};
}

Status<OsError> replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return unexpected(last_os_error());
    return Unit{};
}

Status<OsError> make_executable(const std::filesystem::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return unexpected(last_os_error());
    // Run bits for whoever may read it.
    const mode_t mode = info.st_mode | ((info.st_mode & 0444) >> 2);
    if (::chmod(file.c_str(), mode) != 0) return unexpected(last_os_error());
    return Unit{};
}

bool is_same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    struct stat sa {
    }, sb{};
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace tarvo::platform
