// The admin-only folder on POSIX: owned by this process's user (root, as the
// client runs), mode 0755. Every step below a folder goes through an open
// folder descriptor (openat and friends) with O_NOFOLLOW, so a link swapped
// in between a check and a use is refused rather than followed.
#include "platform/admin_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/owned_fd.h"

namespace tarvo::platform {

namespace {

constexpr mode_t kFolderMode = 0755;
constexpr int kNoFollowFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The content of a file that is not the one the program carries.
OsError other_content_error() { return os_error(ENOEXEC); }

Expected<OwnedFd, OsError> open_folder(const std::filesystem::path& folder) {
    OwnedFd fd(::open(folder.c_str(), kNoFollowFolder));
    if (fd.get() < 0) return unexpected(last_os_error());
    return fd;
}

// The folder of `path` and the name in it.
struct Place {
    OwnedFd folder;
    std::string name;
};

Expected<Place, OsError> open_place(const std::filesystem::path& path) {
    auto folder = open_folder(path.parent_path());
    if (!folder) return unexpected(std::move(folder).error());
    return Place{std::move(*folder), path.filename().string()};
}

Status<OsError> make_owned_and_mode(int fd, mode_t mode) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return unexpected(last_os_error());
    if (info.st_uid != ::geteuid() && ::fchown(fd, ::geteuid(), ::getegid()) != 0)
        return unexpected(last_os_error());
    if ((info.st_mode & 07777) != mode && ::fchmod(fd, mode) != 0) return unexpected(last_os_error());
    return Unit{};
}

Status<OsError> remove_at(int folder, const char* name);

Status<OsError> empty_folder_at(int folder, const char* name) {
    const int fd = ::openat(folder, name, kNoFollowFolder);
    if (fd < 0) return unexpected(last_os_error());
    DIR* listing = ::fdopendir(fd);  // owns fd from here on
    if (!listing) {
        const OsError error = last_os_error();
        ::close(fd);
        return unexpected(error);
    }
    Status<OsError> result = Unit{};
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (auto removed = remove_at(::dirfd(listing), entry->d_name); !removed && result) result = removed;
    }
    ::closedir(listing);
    return result;
}

Status<OsError> remove_at(int folder, const char* name) {
    struct stat info {};
    if (::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return unexpected(last_os_error());
    if (S_ISDIR(info.st_mode)) {
        if (auto emptied = empty_folder_at(folder, name); !emptied) return emptied;
        if (::unlinkat(folder, name, AT_REMOVEDIR) != 0) return unexpected(last_os_error());
        return Unit{};
    }
    if (::unlinkat(folder, name, 0) != 0) return unexpected(last_os_error());
    return Unit{};
}

Status<OsError> make_new_folder(const std::filesystem::path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);  // the parents' own rules
    if (::mkdir(folder.c_str(), 0700) != 0) return unexpected(last_os_error());
    auto fd = open_folder(folder);
    if (!fd) return unexpected(std::move(fd).error());
    return make_owned_and_mode(fd->get(), kFolderMode);  // whatever the umask
}

// Reads `fd` from its start and compares it with `bytes`.
Expected<bool, OsError> has_content(int fd, std::string_view bytes) {
    char buffer[64 * 1024];
    std::size_t at = 0;
    while (true) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(last_os_error());
        }
        if (n == 0) return at == bytes.size();
        const auto count = static_cast<std::size_t>(n);
        if (at + count > bytes.size() || std::memcmp(buffer, bytes.data() + at, count) != 0) return false;
        at += count;
    }
}

Status<OsError> write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return unexpected(last_os_error());
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return Unit{};
}

Status<OsError> write_new_file(const Place& place, std::string_view bytes, bool executable) {
    OwnedFd fd(::openat(place.folder.get(), place.name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) return unexpected(last_os_error());
    Status<OsError> written = write_all(fd.get(), bytes);
    if (written && ::fchmod(fd.get(), executable ? 0755 : 0644) != 0) written = unexpected(last_os_error());
    if (written && ::close(fd.release()) != 0) written = unexpected(last_os_error());
    if (!written) ::unlinkat(place.folder.get(), place.name.c_str(), 0);
    return written;
}

}  // namespace

namespace {

Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder, int attempts) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT) return unexpected(last_os_error());
    } else if (S_ISLNK(info.st_mode)) {
        if (::unlink(folder.c_str()) != 0) return unexpected(last_os_error());
    } else if (!S_ISDIR(info.st_mode)) {
        return unexpected(os_error(EEXIST));
    } else {
        auto fd = open_folder(folder);
        if (!fd) return unexpected(std::move(fd).error());
        struct stat held {};
        if (::fstat(fd->get(), &held) != 0) return unexpected(last_os_error());
        if (held.st_uid == ::geteuid() && (held.st_mode & 07777) == kFolderMode) return FolderSecurity::kept;
        if (auto secured = make_owned_and_mode(fd->get(), kFolderMode); !secured)
            return unexpected(std::move(secured).error());
        return FolderSecurity::resecured;
    }
    if (auto made = make_new_folder(folder); !made) {
        // Someone made it first: then it is an existing folder like any other.
        if (made.error().code == EEXIST && attempts > 1) return make_admin_only_folder(folder, attempts - 1);
        return unexpected(std::move(made).error());
    }
    return FolderSecurity::made;
}

}  // namespace

Expected<FolderSecurity, OsError> make_admin_only_folder(const std::filesystem::path& folder) {
    return make_admin_only_folder(folder, 2);
}

Expected<std::vector<FolderEntry>, OsError> list_folder_entries(const std::filesystem::path& folder) {
    auto fd = open_folder(folder);
    if (!fd) return unexpected(std::move(fd).error());
    DIR* listing = ::fdopendir(fd->get());
    if (!listing) return unexpected(last_os_error());
    (void)fd->release();  // the listing owns the descriptor now
    std::vector<FolderEntry> entries;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        struct stat info {};
        FolderEntry::Kind kind = FolderEntry::Kind::other;
        if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            if (S_ISDIR(info.st_mode)) kind = FolderEntry::Kind::folder;
            if (S_ISREG(info.st_mode) && info.st_nlink == 1) kind = FolderEntry::Kind::file;
        }
        entries.push_back({entry->d_name, kind});
    }
    ::closedir(listing);
    return entries;
}

Status<OsError> remove_entry(const std::filesystem::path& path) {
    auto place = open_place(path);
    if (!place) return unexpected(std::move(place).error());
    return remove_at(place->folder.get(), place->name.c_str());
}

Status<OsError> make_admin_only_entry(const std::filesystem::path& path) {
    auto place = open_place(path);
    if (!place) return unexpected(std::move(place).error());
    OwnedFd fd(::openat(place->folder.get(), place->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) return unexpected(last_os_error());
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return unexpected(last_os_error());
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) return unexpected(os_error(EACCES));
    // Nobody but the owner writes; run bits stay as they are.
    return make_owned_and_mode(fd.get(), S_ISDIR(info.st_mode) ? kFolderMode : info.st_mode & 0755);
}

Expected<FileWrite, OsError> write_file_if_differs(const std::filesystem::path& file, std::string_view bytes,
                                                  bool executable) {
    auto place = open_place(file);
    if (!place) return unexpected(std::move(place).error());
    const int folder = place->folder.get();
    const char* name = place->name.c_str();

    OwnedFd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    const int open_error = fd.get() < 0 ? errno : 0;
    if (open_error != 0 && open_error != ENOENT && open_error != ELOOP) return unexpected(os_error(open_error));
    if (fd.get() >= 0) {
        struct stat info {};
        if (::fstat(fd.get(), &info) != 0) return unexpected(last_os_error());
        if (S_ISREG(info.st_mode) && info.st_nlink == 1 && static_cast<std::size_t>(info.st_size) == bytes.size()) {
            auto same = has_content(fd.get(), bytes);
            if (!same) return unexpected(std::move(same).error());
            if (*same) return FileWrite::unchanged;
        }
        fd.reset();
        if (::unlinkat(folder, name, S_ISDIR(info.st_mode) ? AT_REMOVEDIR : 0) != 0)
            return unexpected(last_os_error());
    } else if (open_error == ELOOP) {
        if (::unlinkat(folder, name, 0) != 0) return unexpected(last_os_error());  // the link itself
    }
    if (auto written = write_new_file(*place, bytes, executable); !written)
        return unexpected(std::move(written).error());
    return FileWrite::written;
}

HeldFile::~HeldFile() {
    if (native_ >= 0) ::close(static_cast<int>(native_));
}

Expected<HeldFile, OsError> hold_file_with_content(const std::filesystem::path& file, std::string_view bytes) {
    auto place = open_place(file);
    if (!place) return unexpected(std::move(place).error());
    HeldFile held(::openat(place->folder.get(), place->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (held.native() < 0) return unexpected(last_os_error());
    const int fd = static_cast<int>(held.native());
    struct stat info {};
    if (::fstat(fd, &info) != 0) return unexpected(last_os_error());
    if (S_ISDIR(info.st_mode)) return unexpected(os_error(EISDIR));
    if (!S_ISREG(info.st_mode)) return unexpected(os_error(EACCES));
    if (info.st_nlink != 1) return unexpected(other_content_error());
    auto same = has_content(fd, bytes);
    if (!same) return unexpected(std::move(same).error());
    if (!*same) return unexpected(other_content_error());
    return held;
}

}  // namespace tarvo::platform
