#include "platform/files.h"

#include <windows.h>

namespace tarvo::platform {

namespace {

bool is_existing_directory(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// One folder; an existing folder counts as made. The error is the system's.
Status<OsError> make_directory(const std::filesystem::path& folder) {
    if (CreateDirectoryW(folder.c_str(), nullptr)) return Unit{};
    const OsError error = last_os_error();
    if (is_existing_directory(folder)) return Unit{};
    return unexpected(error);
}

}  // namespace

Status<OsError> create_directories(const std::filesystem::path& folder) {
    Status<OsError> made = make_directory(folder);
    if (made || made.error().code != ERROR_PATH_NOT_FOUND) return made;
    // A missing parent: make the parents first, then this folder.
    const std::filesystem::path parent = folder.parent_path();
    if (parent.empty() || parent == folder) return made;
    if (Status<OsError> parents = platform::create_directories(parent); !parents) return parents;
    return make_directory(folder);
}

Status<OsError> replace_file(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Unit{};
    return unexpected(last_os_error());
}

// The C runtime's stat has no file index on Windows (every file reads as
// inode 0), so identity comes from the volume serial number and file index.
bool is_same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
    auto identity = [](const std::filesystem::path& path, BY_HANDLE_FILE_INFORMATION& info) {
        HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(file, &info) != 0;
        CloseHandle(file);
        return ok;
    };
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!identity(a, ia) || !identity(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace tarvo::platform
